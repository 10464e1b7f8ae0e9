// Builds one text (a host command, or an answer to the embedding panel) from pieces in a single
// pass.
//
// The pieces' sizes are added first; a text that fits the buffer inside the object is built
// there without touching the heap, a longer one in exactly one heap allocation. There is no
// length limit.
#pragma once

#include "vorn_string.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>

class vorn_command_text {
public:
    struct Piece {
        Piece(const char* text) : data(text ? text : ""), size(std::strlen(data)) {} // NOLINT
        Piece(const char* text, std::size_t length) : data(text), size(length) {}
        Piece(const vorn_string& text) : data(text), size(text.length()) {} // NOLINT
        const char* data;
        std::size_t size;
    };

    explicit vorn_command_text(std::initializer_list<Piece> pieces);
    vorn_command_text(const vorn_command_text&) = delete;
    vorn_command_text& operator=(const vorn_command_text&) = delete;

    const char* c_str() const { return heap_ ? heap_.get() : inline_; }
    std::size_t size() const { return size_; }

private:
    static constexpr std::size_t inlineSize = 192;
    char inline_[inlineSize];
    std::unique_ptr<char[]> heap_;
    std::size_t size_;
};
