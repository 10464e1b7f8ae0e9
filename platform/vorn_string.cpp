#include "vorn_string.h"

#include <cstring>

namespace {

std::size_t textSize(const char* text) {
    return text ? std::strlen(text) : 0;
}

// Digits of a number in base 2 to 36 (others read as 10), most significant first, into a buffer
// that holds any 32-bit value in base 2 with its sign.
std::size_t formatNumber(int number, int base, char (&out)[40]) {
    if (base < 2 || base > 36) base = 10;
    // Work in unsigned so that the lowest int converts without overflow.
    unsigned magnitude =
        number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
    char digits[36];
    std::size_t n = 0;
    do {
        unsigned digit = magnitude % static_cast<unsigned>(base);
        digits[n++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        magnitude /= static_cast<unsigned>(base);
    } while (magnitude != 0);
    std::size_t size = 0;
    if (number < 0) out[size++] = '-';
    while (n > 0)
        out[size++] = digits[--n];
    out[size] = '\0';
    return size;
}

std::string numberText(int number, char fill, int width, int base) {
    char digits[40];
    std::size_t size = formatNumber(number, base, digits);
    std::string text;
    if (width > 0 && static_cast<std::size_t>(width) > size)
        text.assign(static_cast<std::size_t>(width) - size, fill == 0 ? ' ' : fill);
    text.append(digits, size);
    return text;
}

} // namespace

vorn_string::vorn_string(const char* text) : s_(text ? text : "") {}

vorn_string::vorn_string(const char* text, std::size_t size)
    : s_(text ? text : "", text ? size : 0) {}

vorn_string::vorn_string(int number, char fill, int width, int base)
    : s_(numberText(number, fill, width, base)) {}

vorn_string& vorn_string::operator=(const char* text) {
    s_.assign(text ? text : "");
    return *this;
}

vorn_string& vorn_string::operator+=(const vorn_string& other) {
    s_ += other.s_;
    return *this;
}

vorn_string& vorn_string::operator+=(const char* text) {
    if (text) s_ += text;
    return *this;
}

bool vorn_string::operator==(const char* text) const {
    std::size_t size = textSize(text);
    return s_.size() == size && (size == 0 || std::memcmp(s_.data(), text, size) == 0);
}

bool vorn_string::operator==(int number) const {
    char digits[40];
    std::size_t size = formatNumber(number, 10, digits);
    return s_.size() == size && std::memcmp(s_.data(), digits, size) == 0;
}

vorn_string vorn_string::lower() const {
    vorn_string copy(*this);
    for (char& c : copy.s_)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return copy;
}

vorn_string vorn_string::arg(const vorn_string& value) const {
    return argText(value.s_.data(), value.s_.size());
}

vorn_string vorn_string::arg(const char* value) const {
    return argText(value ? value : "", textSize(value));
}

vorn_string vorn_string::arg(int number, char fill, int width, int base) const {
    std::string text = numberText(number, fill, width, base);
    return argText(text.data(), text.size());
}

namespace {

// The marker (%1 to %99) that starts at position i, or 0; its length goes to size.
int markerAt(const std::string& text, std::size_t i, std::size_t& size) {
    auto digit = [&](std::size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
    if (text[i] != '%' || !digit(i + 1) || text[i + 1] == '0') return 0;
    int marker = text[i + 1] - '0';
    size = 2;
    if (digit(i + 2)) {
        marker = marker * 10 + (text[i + 2] - '0');
        size = 3;
    }
    return marker;
}

} // namespace

vorn_string vorn_string::argText(const char* value, std::size_t size) const {
    int lowest = 0;
    std::size_t markerSize = 0;
    for (std::size_t i = 0; i < s_.size(); ++i) {
        const int marker = markerAt(s_, i, markerSize);
        if (marker != 0 && (lowest == 0 || marker < lowest)) lowest = marker;
    }
    if (lowest == 0) return *this;

    vorn_string result;
    result.s_.reserve(s_.size() + size);
    for (std::size_t i = 0; i < s_.size();) {
        if (markerAt(s_, i, markerSize) == lowest) {
            result.s_.append(value, size);
            i += markerSize;
        } else {
            result.s_ += s_[i++];
        }
    }
    return result;
}

vorn_string operator+(const vorn_string& left, const vorn_string& right) {
    vorn_string result(left);
    result += right;
    return result;
}

vorn_string operator+(const vorn_string& left, const char* right) {
    vorn_string result(left);
    result += right;
    return result;
}

vorn_string operator+(const char* left, const vorn_string& right) {
    vorn_string result(left);
    result += right;
    return result;
}
