// JSON texts through nlohmann::json. Its strings must be UTF-8, but some of the program's
// texts come from elsewhere (the device's fields, paths, names in a configuration) and may
// hold bytes that are not: each such byte is written as the Latin-1 character of its value
// (0xF6 as "ö", U+00F6), so that a reader loses nothing and no text can stop a write.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// The length of the valid UTF-8 sequence at `i`, 0 when the bytes there are not one
// (overlong forms, surrogates and code points above U+10FFFF are not).
inline size_t Utf8SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// `text` as valid UTF-8: its valid sequences as they are, every other byte as the Latin-1
// character of its value.
inline std::string Utf8Text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (const size_t length = Utf8SequenceLength(text, i); length != 0) {
            out.append(text, i, length);
            i += length;
        } else {
            const auto byte = static_cast<unsigned char>(text[i++]);
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

// `value` with every string and member name made valid UTF-8 (Utf8Text).
template <typename TJson>
TJson WithUtf8Texts(const TJson& value) {
    if (value.is_string()) {
        return Utf8Text(value.template get_ref<const std::string&>());
    }
    if (value.is_array()) {
        TJson out = TJson::array();
        for (const TJson& item : value) {
            out.push_back(WithUtf8Texts(item));
        }
        return out;
    }
    if (value.is_object()) {
        TJson out = TJson::object();
        for (const auto& [name, item] : value.items()) {
            out[Utf8Text(name)] = WithUtf8Texts(item);
        }
        return out;
    }
    return value;
}

// `value` as JSON text, compact, or indented by `indent` spaces. Never throws: texts that are
// not valid UTF-8 are written as WithUtf8Texts makes them.
template <typename TJson>
std::string JsonText(const TJson& value, int indent = -1) {
    try {
        return value.dump(indent);
    } catch (const typename TJson::type_error&) {
        return WithUtf8Texts(value).dump(indent);
    }
}
