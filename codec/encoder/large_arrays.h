// Arrays of a whole picture (planes, plans, flag maps) ask the system for
// huge pages before their first use: a small fraction of the page faults that
// filling them page by page costs.
#pragma once
#include <cstddef>
#include <vector>

// Asks for huge pages over the memory at data (a no-op where the system has
// no such request).
void adviseHugePages(void* data, size_t bytes);

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
