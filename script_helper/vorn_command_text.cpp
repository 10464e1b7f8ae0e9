#include "vorn_command_text.h"

char* vorn_command_text::onHeap() {
    heap_.reset(new char[size_ + 1]);
    return heap_.get();
}
