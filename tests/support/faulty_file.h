#pragma once
// An archive file in memory whose writes start failing after a number of
// bytes, as a full disk, a transient error or a device that went away.
#include <cerrno>
#include <string>

#include "zip/ZipException.h"
#include "zip/ZipMemFile.h"

class FaultyFile : public CZipMemFile {
public:
    enum Model {
        healthy,
        fullDisk,   // nothing grows past the length the file had when it filled
        transient,  // the one write that crosses the budget fails
        deviceGone  // from the budget on every write, read and cut fails
    };

    FaultyFile() : CZipMemFile(65536) {}

    void Arm(Model model, unsigned long long budget) {
        m_model = model;
        m_budget = budget;
        m_tripped = false;
    }
    void Disarm() { m_model = healthy; }
    bool Tripped() const { return m_tripped; }
    unsigned long long Written() const { return m_written; }
    std::string Image() const { return std::string(GetData(), size_t(GetLength())); }
    void Load(const std::string& bytes) {
        SetLength(0);
        SeekToBegin();
        CZipMemFile::Write(bytes.data(), unsigned(bytes.size()));
        SeekToBegin();
    }

    void Write(const void* buffer, unsigned count) override {
        const char* p = static_cast<const char*>(buffer);
        if (m_model == deviceGone && m_tripped) Fail(EIO);
        if (m_model != healthy && !m_tripped && m_written + count > m_budget) {
            m_tripped = true;
            const unsigned fits = unsigned(m_budget - m_written);
            // A full disk still takes writes inside what the file holds.
            m_capacity = GetLength() > GetPosition() + fits ? GetLength() : GetPosition() + fits;
            if (m_model != fullDisk) {
                Put(p, fits);
                Fail(EIO);
            }
        }
        if (m_model == fullDisk && m_tripped && GetPosition() + count > m_capacity) {
            const unsigned long long pos = GetPosition();
            if (pos < m_capacity) Put(p, unsigned(m_capacity - pos));
            Fail(ENOSPC);
        }
        Put(p, count);
    }
    unsigned Read(void* buffer, unsigned count) override {
        if (m_model == deviceGone && m_tripped) Fail(EIO);
        return CZipMemFile::Read(buffer, count);
    }
    void SetLength(unsigned long long length) override {
        if (m_model == deviceGone && m_tripped) Fail(EIO);
        if (m_model == fullDisk && m_tripped && length > m_capacity) Fail(ENOSPC);
        CZipMemFile::SetLength(length);
    }

private:
    void Put(const char* p, unsigned count) {
        CZipMemFile::Write(p, count);
        m_written += count;
    }
    [[noreturn]] void Fail(int code) { CZipException::Throw(code, "faulty"); }

    Model m_model = healthy;
    unsigned long long m_budget = 0;
    unsigned long long m_written = 0;
    unsigned long long m_capacity = 0;
    bool m_tripped = false;
};
