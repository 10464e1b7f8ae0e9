#include "vorn_string.h"

#include <charconv>

namespace {

// Digits of a number in base 2 to 36 (others read as 10), most significant first, lower-case
// letters past 9, into a buffer that holds any 32-bit value in base 2 with its sign. No NUL
// follows them: the size says where they end.
std::size_t formatNumber(int number, int base, char (&out)[40]) {
    if (number >= 0 && number < 10 && (base == 10 || base > number)) { // the frame's usual case
        out[0] = static_cast<char>('0' + number);
        return 1;
    }
    if (base < 2 || base > 36) base = 10;
    const std::size_t size =
        static_cast<std::size_t>(std::to_chars(out, out + sizeof out - 1, number, base).ptr - out);
    return size;
}

// A number as vorn_string(number, fill, width, base) writes it, into out (room for 40 + width
// characters is not needed: the caller asks for the size first with out null).
std::size_t numberText(int number, char fill, int width, int base, char* out) {
    char digits[40];
    const std::size_t size = formatNumber(number, base, digits);
    const std::size_t pad = width > 0 && static_cast<std::size_t>(width) > size
                                ? static_cast<std::size_t>(width) - size
                                : 0;
    if (out) {
        std::memset(out, fill == 0 ? ' ' : fill, pad);
        std::memcpy(out + pad, digits, size);
    }
    return pad + size;
}

// The marker (%1 to %99) that starts at text[i], or 0; its length goes to length.
int markerAt(const char* text, std::size_t size, std::size_t i, std::size_t& length) {
    auto digit = [&](std::size_t k) { return k < size && text[k] >= '0' && text[k] <= '9'; };
    if (!digit(i + 1) || text[i + 1] == '0') return 0;
    int marker = text[i + 1] - '0';
    length = 2;
    if (digit(i + 2)) {
        marker = marker * 10 + (text[i + 2] - '0');
        length = 3;
    }
    return marker;
}

} // namespace

void vorn_string::reserveUninitialised(std::size_t size) {
    if (size <= shortCapacity) {
        if (data_ != local_) delete[] data_;
        data_ = local_;
    } else {
        char* block = new char[size + 1];
        if (data_ != local_) delete[] data_;
        data_ = block;
    }
    size_ = size;
    data_[size] = '\0';
}

void vorn_string::assign(const char* text, std::size_t size) {
    const auto at = reinterpret_cast<std::uintptr_t>(text);
    const auto from = reinterpret_cast<std::uintptr_t>(data_);
    const bool inside = at >= from && at <= from + size_;
    if (size <= shortCapacity && data_ == local_) {
        if (inside)
            std::memmove(local_, text, size);
        else
            vorn_copy_chars(local_, text, size);
        local_[size] = '\0';
        size_ = size;
        return;
    }
    if (inside) { // from inside this text: copy it first
        vorn_string copy(text, size);
        *this = static_cast<vorn_string&&>(copy);
        return;
    }
    reserveUninitialised(size);
    vorn_copy_chars(data_, text, size);
}

vorn_string& vorn_string::append(const char* text, std::size_t size) {
    if (size == 0) return *this;
    const std::size_t total = size_ + size;
    if (total <= shortCapacity && data_ == local_) {
        // Characters of this text itself end at or before its end, where they are copied to:
        // the runs never overlap.
        vorn_copy_chars(local_ + size_, text, size);
        local_[total] = '\0';
        size_ = total;
        return *this;
    }
    vorn_string joined = ofSize(total);
    vorn_copy_chars(joined.data_, data_, size_);
    vorn_copy_chars(joined.data_ + size_, text, size);
    *this = static_cast<vorn_string&&>(joined);
    return *this;
}

vorn_string::vorn_string(int number, char fill, int width, int base) : data_(local_), size_(0) {
    reserveUninitialised(numberText(number, fill, width, base, nullptr));
    numberText(number, fill, width, base, data_);
}

bool vorn_string::operator==(int number) const {
    char digits[40];
    const std::size_t size = formatNumber(number, 10, digits);
    return size_ == size && std::memcmp(data_, digits, size) == 0;
}

vorn_string vorn_string::lower() const {
    vorn_string copy = ofSize(size_);
    for (std::size_t i = 0; i < size_; ++i) {
        const char c = data_[i];
        copy.data_[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return copy;
}

vorn_string vorn_string::arg(int number, char fill, int width, int base) const {
    char digits[40];
    if (width < 40) {
        const std::size_t size = numberText(number, fill, width, base, digits);
        return argText(digits, size);
    }
    const vorn_string text(number, fill, width, base);
    return argText(text.data_, text.size_);
}

// One scan finds the markers and keeps where the lowest-numbered ones stand; the result is
// then sized once and written run by run. Only a text with more than `kept` markers of the
// lowest number is scanned a second time.
vorn_string vorn_string::argText(const char* value, std::size_t size) const {
    constexpr std::size_t kept = 8;
    std::size_t at[kept];
    std::size_t count = 0;  // occurrences of the lowest marker
    std::size_t length = 0; // its length, 2 or 3
    int lowest = 0;
    for (const char* p = static_cast<const char*>(std::memchr(data_, '%', size_)); p;
         p = static_cast<const char*>(std::memchr(p + 1, '%', size_ - (p + 1 - data_)))) {
        std::size_t markerLength = 0;
        const std::size_t i = static_cast<std::size_t>(p - data_);
        const int marker = markerAt(data_, size_, i, markerLength);
        if (marker == 0 || (lowest != 0 && marker > lowest)) continue;
        if (marker != lowest) {
            lowest = marker;
            length = markerLength;
            count = 0;
        }
        if (count < kept) at[count] = i;
        ++count;
    }
    if (lowest == 0) return *this;

    vorn_string result = ofSize(size_ - count * length + count * size);
    char* out = result.data_;
    std::size_t from = 0;
    auto place = [&](std::size_t i) {
        vorn_copy_chars(out, data_ + from, i - from);
        out += i - from;
        vorn_copy_chars(out, value, size);
        out += size;
        from = i + length;
    };
    if (count <= kept) {
        for (std::size_t k = 0; k < count; ++k)
            place(at[k]);
    } else {
        for (std::size_t i = 0; i < size_; ++i) {
            std::size_t markerLength = 0;
            if (data_[i] == '%' && markerAt(data_, size_, i, markerLength) == lowest) place(i);
        }
    }
    vorn_copy_chars(out, data_ + from, size_ - from);
    return result;
}

namespace {

vorn_string join(const char* left, std::size_t leftSize, const char* right, std::size_t rightSize) {
    vorn_string result = vorn_string::ofSize(leftSize + rightSize);
    vorn_copy_chars(result.writable(), left, leftSize);
    vorn_copy_chars(result.writable() + leftSize, right, rightSize);
    return result;
}

} // namespace

vorn_string operator+(const vorn_string& left, const vorn_string& right) {
    return join(left, left.length(), right, right.length());
}

vorn_string operator+(const vorn_string& left, const char* right) {
    return join(left, left.length(), right ? right : "", right ? std::strlen(right) : 0);
}

vorn_string operator+(const char* left, const vorn_string& right) {
    return join(left ? left : "", left ? std::strlen(left) : 0, right, right.length());
}
