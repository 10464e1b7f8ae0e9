#include "vorn_command_text.h"

vorn_command_text::vorn_command_text(std::initializer_list<Piece> pieces) : size_(0) {
    for (const Piece& piece : pieces)
        size_ += piece.size;
    if (size_ >= inlineSize) heap_.reset(new char[size_ + 1]);
    char* out = heap_ ? heap_.get() : inline_;
    for (const Piece& piece : pieces) {
        vorn_copy_chars(out, piece.data, piece.size);
        out += piece.size;
    }
    *out = '\0';
}
