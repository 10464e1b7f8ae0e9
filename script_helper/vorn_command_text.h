// Builds one text (a host command, or an answer to the embedding panel) from pieces in a single
// pass.
//
// The pieces' sizes are added first; a text that fits the buffer inside the object is built
// there without touching the heap, a longer one in exactly one heap allocation. There is no
// length limit. The builder is expanded where the text is written, so a fixed piece (a string
// literal) is copied as the constant it is: its size is known there, and no loop over pieces
// stands between it and its place.
#pragma once

#include "vorn_string.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

class vorn_command_text {
public:
    struct Piece {
        Piece() = default; // unset: for an array about to be filled
        Piece(const char* text) : data(text ? text : ""), size(std::strlen(data)) {} // NOLINT
        Piece(const char* text, std::size_t length) : data(text), size(length) {}
        Piece(const vorn_string& text) : data(text), size(text.length()) {} // NOLINT
        const char* data;
        std::size_t size;
    };

    // Each piece is a plain text (null: empty), a vorn_string or a Piece.
    template <class... Pieces> explicit vorn_command_text(const Pieces&... pieces) {
        const Piece all[] = {Piece(pieces)...};
        build(all, std::index_sequence_for<Pieces...>{});
    }
    // The same from pieces counted at run time (a text made from a table).
    struct Table {
        const Piece* pieces;
        std::size_t count;
    };
    explicit vorn_command_text(Table table);
    vorn_command_text(const vorn_command_text&) = delete;
    vorn_command_text& operator=(const vorn_command_text&) = delete;

    const char* c_str() const { return heap_ ? heap_.get() : inline_; }
    std::size_t size() const { return size_; }
    // The text as a vorn_string (a copy), for what takes or returns one.
    vorn_string str() const { return vorn_string(c_str(), size_); }

private:
    static constexpr std::size_t inlineSize = 192;

    template <std::size_t... I> void build(const Piece* all, std::index_sequence<I...>) {
        size_ = (std::size_t{0} + ... + all[I].size);
        char* out = size_ < inlineSize ? inline_ : onHeap();
        ((vorn_copy_chars(out, all[I].data, all[I].size), out += all[I].size), ...);
        *out = '\0';
    }
    char* onHeap(); // a heap block for size_ characters and the NUL

    char inline_[inlineSize];
    std::unique_ptr<char[]> heap_;
    std::size_t size_;
};
