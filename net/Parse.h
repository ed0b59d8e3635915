#pragma once
// Cursor tokenizer over one text: words separated by white space and a set of
// split characters, an optional break character, "="-separated tokens, lines
// and the rest of the text. The text itself is never changed; a position at
// or past its end reads as NUL, and a NUL ends every scan.

#include <cstddef>
#include <string>

class Parse {
public:
    Parse();
    explicit Parse(const std::string& text);
    // Every character of `splits` separates words.
    Parse(const std::string& text, const std::string& splits);
    // Split-only mode: only the split characters separate words, white space
    // belongs to words. The value of the third argument is not used.
    Parse(const std::string& text, const std::string& splits, short);

    bool issplit(char c) const;
    void setbreak(char c);

    std::string getword();
    void getword(std::string& s);
    // The next word right-aligned in `width`, padded in front with `fill`.
    void getword(std::string& s, std::string& fill, int width);
    // The next word read as a decimal number (0 when empty or not numeric).
    long getvalue();

    // Tokens of key=value texts: "=" is a token of its own.
    std::string getsplit();
    void getsplit(std::string& s);

    // The rest of the text after spaces, tabs and split characters; the
    // position stays at its start.
    std::string getrest();
    void getrest(std::string& s);

    // The next line, without its CR, LF or CR LF end.
    std::string getline();
    void getline(std::string& s);

    // Lengths of what getword / getrest would return; the position stays.
    size_t getwordlen() const;
    size_t getrestlen() const;

private:
    char at(size_t i) const { return i < m_text.size() ? m_text[i] : '\0'; }
    static bool isspace_(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    bool endsword(char c) const;

    std::string m_text;
    std::string m_splits;
    std::string m_last;
    size_t m_pos = 0;
    char m_break = 0;
    short m_splitonly = 0;
};
