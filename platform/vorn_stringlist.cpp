#include "vorn_stringlist.h"

vorn_stringlist& vorn_stringlist::operator<<(const vorn_string& item) {
    items_.push_back(item);
    return *this;
}

vorn_string vorn_stringlist::toString(char separator) const {
    vorn_string result;
    const char sep[2] = {separator, '\0'};
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (i > 0) result += sep;
        result += items_[i];
    }
    return result;
}
