#include "vorn_command_text.h"

char* vorn_command_text::onHeap() {
    heap_.reset(new char[size_ + 1]);
    return heap_.get();
}

vorn_command_text::vorn_command_text(Table table) {
    const Piece* const pieces = table.pieces;
    const std::size_t count = table.count;
    size_ = 0;
    for (std::size_t i = 0; i < count; ++i)
        size_ += pieces[i].size;
    char* out = size_ < inlineSize ? inline_ : onHeap();
    for (std::size_t i = 0; i < count; ++i) {
        vorn_copy_chars(out, pieces[i].data, pieces[i].size);
        out += pieces[i].size;
    }
    *out = '\0';
}
