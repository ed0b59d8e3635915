#pragma once
// Thin containers over the standard library. Pointer arrays do not own what
// they point to; their owners free the elements.
#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <vector>

#include "ZipException.h"

template <class T>
class CZipArray : public std::vector<T> {
public:
    typedef int (*CompareFunction)(const void* a, const void* b);

    size_t GetSize() const { return this->size(); }
    // Count minus one; an empty array raises code 224.
    size_t GetUpperBound() const {
        if (this->empty()) CZipException::Throw(CZipException::outOfBounds);
        return this->size() - 1;
    }
    // Appends and returns the new element's index.
    size_t Add(const T& value) {
        this->push_back(value);
        return GetUpperBound();
    }
    // Bounds-checked (std::out_of_range).
    T& GetAt(size_t index) { return this->at(index); }
    const T& GetAt(size_t index) const { return this->at(index); }
    // Inserts before the element at index; index == count appends.
    void InsertAt(size_t index, const T& value) { this->insert(this->begin() + std::ptrdiff_t(index), value); }
    void RemoveAt(size_t index) { this->erase(this->begin() + std::ptrdiff_t(index)); }
    void RemoveAll() { this->clear(); }
    // qsort-style comparison of pointers to two elements; not stable.
    void Sort(CompareFunction compare) {
        std::sort(this->begin(), this->end(), [compare](const T& a, const T& b) { return compare(&a, &b) < 0; });
    }
    void Sort(bool ascending) {
        if (ascending) std::sort(this->begin(), this->end(), std::less<T>());
        else std::sort(this->begin(), this->end(), std::greater<T>());
    }
};

template <class K, class V>
class CZipMap : public std::map<K, V> {
public:
    typedef typename std::map<K, V>::iterator POSITION;

    // Keeps the stored value when the key is present.
    void SetAt(const K& key, const V& value) { this->insert(std::make_pair(key, value)); }
    bool Lookup(const K& key, V& out) const {
        auto it = this->find(key);
        if (it == this->end()) return false;
        out = it->second;
        return true;
    }
    bool RemoveKey(const K& key) { return this->erase(key) != 0; }
    POSITION GetStartPosition() { return this->begin(); }
    bool IteratorValid(const POSITION& pos) const { return pos != this->end(); }
    void GetNextAssoc(POSITION& pos, K& key, V& value) {
        key = pos->first;
        value = pos->second;
        ++pos;
    }
    void RemoveAll() { this->clear(); }
};

template <class T>
class CZipPtrList : public std::list<T> {
public:
    typedef typename std::list<T>::iterator POSITION;

    void AddTail(const T& value) { this->push_back(value); }
    POSITION Find(const T& value) { return std::find(this->begin(), this->end(), value); }
    bool IteratorValid(const POSITION& pos) const { return pos != this->end(); }
    void RemoveAt(POSITION pos) { this->erase(pos); }
    size_t GetCount() const { return this->size(); }
    POSITION GetHeadPosition() { return this->begin(); }
    T& GetNext(POSITION& pos) { return *pos++; }
    void RemoveAll() { this->clear(); }
};
