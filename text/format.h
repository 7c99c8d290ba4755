#pragma once
// printf into a std::string, for the survey's and the report's narrow texts.
#include <string>

// printf into a string sized from the data.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
