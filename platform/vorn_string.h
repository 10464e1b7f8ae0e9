// vorn_string: the text value of the platform's string library.
//
// Stand-in for the closed vorn_string module. Only what script components use is provided.
//
// A text of up to shortCapacity characters lives inside the object, so the frame's typical
// texts (names, settings, looks, command templates, the answer to "return=all") never touch
// the heap; a longer one is held in one heap block of exactly its size. Every operation that
// makes a text works out its size first and writes it once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorn_detail {
// A run of n characters, from sizeof(Block) to twice that, as two overlapping block copies: its
// first and its last sizeof(Block) characters, both loaded before either is stored.
template <class Block> inline void copyBothEnds(char* to, const char* from, std::size_t n) {
    Block first, last;
    std::memcpy(&first, from, sizeof first);
    std::memcpy(&last, from + n - sizeof last, sizeof last);
    std::memcpy(to, &first, sizeof first);
    std::memcpy(to + n - sizeof last, &last, sizeof last);
}
struct Block16 {
    std::uint64_t halves[2];
};
} // namespace vorn_detail

// Copies n characters. Short runs, which are most of the frame's, are copied inline with at
// most four loads and four stores (all loads first, so overlapping runs are safe); longer ones
// by memcpy, and must not overlap.
inline void vorn_copy_chars(char* to, const char* from, std::size_t n) {
    if (n > 2 * sizeof(vorn_detail::Block16)) {
        std::memcpy(to, from, n);
    } else if (n >= sizeof(vorn_detail::Block16)) {
        vorn_detail::copyBothEnds<vorn_detail::Block16>(to, from, n);
    } else if (n >= sizeof(std::uint64_t)) {
        vorn_detail::copyBothEnds<std::uint64_t>(to, from, n);
    } else if (n >= sizeof(std::uint32_t)) {
        vorn_detail::copyBothEnds<std::uint32_t>(to, from, n);
    } else if (n > 0) {
        const char a = from[0], b = from[n / 2], c = from[n - 1];
        to[0] = a;
        to[n / 2] = b;
        to[n - 1] = c;
    }
}

class vorn_string {
public:
    static constexpr std::size_t shortCapacity = 127;

    vorn_string() noexcept : data_(local_), size_(0) { local_[0] = '\0'; }
    // A null pointer gives the empty text.
    vorn_string(const char* text) // NOLINT(google-explicit-constructor): texts convert freely
        : vorn_string(text, text ? std::strlen(text) : std::size_t{}) {}
    vorn_string(const char* text, std::size_t size) : data_(local_), size_(0) {
        if (!text) size = 0;
        if (size <= shortCapacity) {
            vorn_copy_chars(local_, text, size);
            local_[size] = '\0';
            size_ = size;
        } else {
            assign(text, size);
        }
    }
    vorn_string(const vorn_string& other) : vorn_string(other.data_, other.size_) {}
    vorn_string(vorn_string&& other) noexcept : data_(local_), size_(0) { take(other); }
    // Number in the given base; fill and width pad on the left when width exceeds the digits.
    // A fill of 0 pads with spaces.
    explicit vorn_string(int number, char fill = {}, int width = {}, int base = 10);
    virtual ~vorn_string() {
        if (data_ != local_) delete[] data_;
    }

    vorn_string& operator=(const vorn_string& other) {
        if (this != &other) assign(other.data_, other.size_);
        return *this;
    }
    vorn_string& operator=(vorn_string&& other) noexcept {
        if (this != &other) {
            if (data_ != local_) delete[] data_;
            data_ = local_;
            take(other);
        }
        return *this;
    }
    vorn_string& operator=(const char* text) {
        assign(text ? text : "", text ? std::strlen(text) : 0);
        return *this;
    }

    vorn_string& operator+=(const vorn_string& other) { return append(other.data_, other.size_); }
    vorn_string& operator+=(const char* text) {
        return text ? append(text, std::strlen(text)) : *this;
    }

    // Exact comparison, case included. A null pointer compares like the empty text.
    bool operator==(const char* text) const {
        const std::size_t size = text ? std::strlen(text) : 0;
        return size_ == size && std::memcmp(data_, text ? text : "", size) == 0;
    }
    bool operator!=(const char* text) const { return !(*this == text); }
    bool operator==(const vorn_string& other) const {
        return size_ == other.size_ && std::memcmp(data_, other.data_, size_) == 0;
    }
    bool operator!=(const vorn_string& other) const { return !(*this == other); }
    // A text equals a number when it is exactly that number's decimal text as
    // vorn_string(number) writes it: "1" equals 1; "01", " 1", "+1" and "1.0" do not.
    bool operator==(int number) const;
    bool operator!=(int number) const { return !(*this == number); }

    vorn_string lower() const;
    unsigned length() const { return static_cast<unsigned>(size_); }
    bool isEmpty() const { return size_ == 0; }
    operator const char*() const { return data_; } // NOLINT(google-explicit-constructor)

    // A copy in which every occurrence of the lowest-numbered marker (%1 to %99) is replaced by
    // the argument. A text without a marker is returned unchanged.
    vorn_string arg(const vorn_string& value) const { return argText(value.data_, value.size_); }
    vorn_string arg(const char* value) const {
        return argText(value ? value : "", value ? std::strlen(value) : 0);
    }
    vorn_string arg(int number, char fill = {}, int width = {}, int base = 10) const;

    // The joining operations of the library (operator+, the list's toString) build their
    // result in place: a text of the given size whose characters the caller writes.
    static vorn_string ofSize(std::size_t size) {
        vorn_string text;
        if (size <= shortCapacity) {
            text.size_ = size;
            text.local_[size] = '\0';
        } else {
            text.reserveUninitialised(size);
        }
        return text;
    }
    char* writable() { return data_; }

private:
    void assign(const char* text, std::size_t size);
    vorn_string& append(const char* text, std::size_t size);
    // Makes room for size characters and a NUL; the contents are not kept.
    void reserveUninitialised(std::size_t size);
    // Moves other's text here (this holds no heap block); other is left empty.
    void take(vorn_string& other) noexcept {
        if (other.data_ != other.local_) {
            data_ = other.data_;
            other.data_ = other.local_;
        } else {
            vorn_copy_chars(local_, other.local_, other.size_ + 1);
        }
        size_ = other.size_;
        other.size_ = 0;
        other.local_[0] = '\0';
    }
    vorn_string argText(const char* value, std::size_t size) const;

    char* data_;
    std::size_t size_;
    char local_[shortCapacity + 1];
};

vorn_string operator+(const vorn_string& left, const vorn_string& right);
vorn_string operator+(const vorn_string& left, const char* right);
vorn_string operator+(const char* left, const vorn_string& right);
