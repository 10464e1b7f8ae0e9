// vorn_stringlist: an ordered list of texts, from the platform's string library.
#pragma once

#include "vorn_string.h"

#include <vector>

class vorn_stringlist {
public:
    vorn_stringlist() = default;
    virtual ~vorn_stringlist() = default;

    vorn_stringlist& operator<<(const vorn_string& item);
    // The items in order with the separator between neighbours, none after the last.
    vorn_string toString(char separator) const;
    unsigned count() const { return static_cast<unsigned>(items_.size()); }

private:
    std::vector<vorn_string> items_;
};
