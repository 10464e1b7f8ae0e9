// vorn_string: the text value of the platform's string library.
//
// Stand-in for the closed vorn_string module. Only what script components use is provided.
#pragma once

#include <cstddef>
#include <string>

class vorn_string {
public:
    vorn_string() = default;
    // A null pointer gives the empty text.
    vorn_string(const char* text); // NOLINT(google-explicit-constructor): texts convert freely
    vorn_string(const char* text, std::size_t size);
    vorn_string(const vorn_string& other) = default;
    vorn_string(vorn_string&& other) noexcept = default;
    // Number in the given base; fill and width pad on the left when width exceeds the digits.
    // A fill of 0 pads with spaces.
    explicit vorn_string(int number, char fill = 0, int width = 0, int base = 10);
    virtual ~vorn_string() = default;

    vorn_string& operator=(const vorn_string& other) = default;
    vorn_string& operator=(vorn_string&& other) noexcept = default;
    vorn_string& operator=(const char* text);

    vorn_string& operator+=(const vorn_string& other);
    vorn_string& operator+=(const char* text);

    // Exact comparison, case included. A null pointer compares like the empty text.
    bool operator==(const char* text) const;
    bool operator!=(const char* text) const { return !(*this == text); }
    bool operator==(const vorn_string& other) const { return s_ == other.s_; }
    bool operator!=(const vorn_string& other) const { return s_ != other.s_; }
    // A text equals a number when it is exactly that number's decimal text as
    // vorn_string(number) writes it: "1" equals 1; "01", " 1", "+1" and "1.0" do not.
    bool operator==(int number) const;
    bool operator!=(int number) const { return !(*this == number); }

    vorn_string lower() const;
    unsigned length() const { return static_cast<unsigned>(s_.size()); }
    bool isEmpty() const { return s_.empty(); }
    operator const char*() const { return s_.c_str(); } // NOLINT(google-explicit-constructor)

    // A copy in which every occurrence of the lowest-numbered marker (%1 to %99) is replaced by
    // the argument. A text without a marker is returned unchanged.
    vorn_string arg(const vorn_string& value) const;
    vorn_string arg(const char* value) const;
    vorn_string arg(int number, char fill = 0, int width = 0, int base = 10) const;

private:
    vorn_string argText(const char* value, std::size_t size) const;

    std::string s_;
};

vorn_string operator+(const vorn_string& left, const vorn_string& right);
vorn_string operator+(const vorn_string& left, const char* right);
vorn_string operator+(const char* left, const vorn_string& right);
