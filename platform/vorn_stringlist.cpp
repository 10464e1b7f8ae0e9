#include "vorn_stringlist.h"

#include <cstring>

vorn_stringlist::~vorn_stringlist() {
    if (data_ != inline_) delete[] data_;
}

vorn_stringlist& vorn_stringlist::operator<<(const vorn_string& item) {
    const std::size_t length = item.length();
    const std::size_t needed = size_ + sizeof length + length;
    if (needed > capacity_) {
        std::size_t capacity = capacity_ * 2;
        while (capacity < needed)
            capacity *= 2;
        char* block = new char[capacity];
        std::memcpy(block, data_, size_);
        if (data_ != inline_) delete[] data_;
        data_ = block;
        capacity_ = capacity;
    }
    std::memcpy(data_ + size_, &length, sizeof length);
    vorn_copy_chars(data_ + size_ + sizeof length, item, length);
    size_ = needed;
    textSize_ += length;
    ++count_;
    return *this;
}

vorn_string vorn_stringlist::toString(char separator) const {
    if (count_ == 0) return vorn_string();
    vorn_string joined = vorn_string::ofSize(textSize_ + count_ - 1);
    char* out = joined.writable();
    for (std::size_t at = 0; at < size_;) {
        std::size_t length = 0;
        std::memcpy(&length, data_ + at, sizeof length);
        if (at > 0) *out++ = separator;
        vorn_copy_chars(out, data_ + at + sizeof length, length);
        out += length;
        at += sizeof length + length;
    }
    return joined;
}
