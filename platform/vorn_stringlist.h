// vorn_stringlist: an ordered list of texts, from the platform's string library.
//
// The items are kept one after another in one block of characters, each after its length, in
// a buffer inside the object while they fit (a component's lists do) and in one heap block
// otherwise; toString() writes the joined text once, at its final size.
#pragma once

#include "vorn_string.h"

#include <cstddef>

class vorn_stringlist {
public:
    vorn_stringlist() = default;
    vorn_stringlist(const vorn_stringlist&) = delete;
    vorn_stringlist& operator=(const vorn_stringlist&) = delete;
    virtual ~vorn_stringlist();

    vorn_stringlist& operator<<(const vorn_string& item);
    // The items in order with the separator between neighbours, none after the last.
    vorn_string toString(char separator) const;
    unsigned count() const { return count_; }

private:
    static constexpr std::size_t inlineSize = 256;
    char inline_[inlineSize];
    char* data_ = inline_;
    std::size_t size_ = 0; // bytes used: each item is its length (a size_t) then its text
    std::size_t capacity_ = inlineSize;
    std::size_t textSize_ = 0; // the items' characters together
    unsigned count_ = 0;
};
