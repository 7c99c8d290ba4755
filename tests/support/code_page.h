#pragma once
// Runs a test under a given ANSI code page: set in the native build, required of the system under Wine
// (the test environment runs Wine with a Chinese locale, code page 936).
#include <gtest/gtest.h>

#include "text/text_encoding.h"

class TextEncodingScope {
public:
    explicit TextEncodingScope(unsigned codePage) {
#ifdef _WIN32
        if (TextEncoding::AnsiCodePage() != codePage)
            ADD_FAILURE() << "the system code page is " << TextEncoding::AnsiCodePage() << ", this test needs "
                          << codePage;
#else
        m_previous = TextEncoding::AnsiCodePage();
        TextEncoding::SetAnsiCodePage(codePage);
#endif
    }
    ~TextEncodingScope() {
#ifndef _WIN32
        TextEncoding::SetAnsiCodePage(m_previous);
#endif
    }

private:
    unsigned m_previous = 0;
};
