// Case-insensitive names of classes, windows and modules.
#pragma once
#include <string>

inline std::string lowerName(const char* name)
{
    std::string out = name ? name : "";
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}
