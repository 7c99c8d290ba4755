#pragma once
// Runs a test under a given ANSI code page: set in the native build, required of the system under Wine
// (the test environment runs Wine with a Chinese locale, code page 936).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/charset.h"
#include "text/code_page.h"
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

// The number of every ANSI code page of Windows.
inline std::vector<unsigned> AnsiCodePageNumbers() {
    std::vector<unsigned> pages;
    for (size_t i = 0; i < Charset::kAnsiCodePageCount; ++i) pages.push_back(Charset::kAnsiCodePages[i].codePage);
    return pages;
}

// Every character of the system's ANSI code page, as a player types it: each byte and each lead byte with
// each second byte that the code page reads as one character and writes back as the same bytes. On UTF-8
// (65001), every character of the Basic Multilingual Plane and every 17th beyond it. Private-use characters
// are left out: the check refuses them on every code page.
inline std::vector<std::u16string> CodePageCharacters() {
    std::vector<std::u16string> typed;
    const auto keep = [&typed](const std::string& bytes) {
        const std::u16string wide = TextEncoding::AnsiToUtf16(bytes);
        // One character, which the conversion back gives as these bytes exactly (a U+FFFD or '?' for an
        // unmapped byte never does).
        if (wide.empty() || wide.size() > 2 || (wide.size() == 2 && (wide[0] < 0xD800 || wide[0] > 0xDBFF))) return;
        // The user-defined areas (private use): the check refuses them whatever the code page.
        if (Charset::IsPrivateUse(wide[0])) return;
        if (TextEncoding::Utf16ToAnsi(wide) == bytes && (wide != u"?" || bytes == "?")) typed.push_back(wide);
    };
    if (TextEncoding::AnsiCodePage() == 65001) {
        for (char32_t c = 1; c <= 0x10FFFF; c += c < 0x10000 ? 1 : 17) {
            if ((c >= 0xD800 && c <= 0xDFFF) || (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000) continue;
            typed.push_back(c < 0x10000 ? std::u16string(1, static_cast<char16_t>(c))
                                        : std::u16string{static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                                         static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))});
        }
        return typed;
    }
    for (int first = 0x01; first <= 0xFF; ++first) {
        const unsigned char lead = static_cast<unsigned char>(first);
        if (!CodePage::IsSystemLeadByte(lead)) {
            keep(std::string(1, static_cast<char>(lead)));
            continue;
        }
        for (int trail = 0x40; trail <= 0xFE; ++trail) keep({static_cast<char>(lead), static_cast<char>(trail)});
    }
    return typed;
}
