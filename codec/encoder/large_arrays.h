// Arrays of a whole picture (planes, plans, flag maps) ask the system for
// huge pages before their first use: a small fraction of the page faults that
// filling them page by page costs.
#pragma once
#include <cstddef>
#include <vector>

#include "codec/core/alloc.h"

// *array becomes n copies of value; new memory is advised first.
template <typename T>
void fillLargeArray(std::vector<T>* array, size_t n, T value)
{
    if (array->capacity() < n) {
        std::vector<T>().swap(*array);
        array->reserve(n);
        adviseHugePages(array->data(), n * sizeof(T));
    }
    array->assign(n, value);
}
