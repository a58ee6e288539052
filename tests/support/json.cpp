#include "support/json.h"

#include <cstdlib>
#include <stdexcept>

namespace {

class TJsonParser {
  public:
    explicit TJsonParser(const std::string& text) : s_(text) {}

    bool Parse(TJson& out) {
        if (!Value(out, 0)) {
            return false;
        }
        Blanks();
        return i_ == s_.size();
    }

  private:
    void Blanks() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) {
            ++i_;
        }
    }
    bool Literal(const char* word) {
        const std::string w = word;
        if (s_.compare(i_, w.size(), w) != 0) {
            return false;
        }
        i_ += w.size();
        return true;
    }
    bool Value(TJson& out, int depth) {
        if (depth > 64) {
            return false;
        }
        Blanks();
        if (i_ >= s_.size()) {
            return false;
        }
        const char c = s_[i_];
        if (c == '{') {
            out.Kind = TJson::TKind::Object;
            ++i_;
            Blanks();
            if (i_ < s_.size() && s_[i_] == '}') {
                ++i_;
                return true;
            }
            for (;;) {
                Blanks();
                std::string key;
                if (!String(key)) {
                    return false;
                }
                Blanks();
                if (i_ >= s_.size() || s_[i_++] != ':') {
                    return false;
                }
                if (!Value(out.Object[key], depth + 1)) {
                    return false;
                }
                Blanks();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                return i_ < s_.size() && s_[i_++] == '}';
            }
        }
        if (c == '[') {
            out.Kind = TJson::TKind::Array;
            ++i_;
            Blanks();
            if (i_ < s_.size() && s_[i_] == ']') {
                ++i_;
                return true;
            }
            for (;;) {
                out.Array.emplace_back();
                if (!Value(out.Array.back(), depth + 1)) {
                    return false;
                }
                Blanks();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                return i_ < s_.size() && s_[i_++] == ']';
            }
        }
        if (c == '"') {
            out.Kind = TJson::TKind::String;
            return String(out.String);
        }
        if (Literal("null")) {
            out.Kind = TJson::TKind::Null;
            return true;
        }
        if (Literal("true") || Literal("false")) {
            out.Kind = TJson::TKind::Bool;
            out.Bool = s_[i_ - 1] == 'e' && s_[i_ - 2] == 'u';
            return true;
        }
        const char* start = s_.c_str() + i_;
        char* end = nullptr;
        out.Number = std::strtod(start, &end);
        if (end == start) {
            return false;
        }
        out.Kind = TJson::TKind::Number;
        i_ += static_cast<size_t>(end - start);
        return true;
    }
    bool String(std::string& out) {
        if (i_ >= s_.size() || s_[i_] != '"') {
            return false;
        }
        ++i_;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) {
                return false;
            }
            c = s_[i_++];
            switch (c) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    if (i_ + 4 > s_.size()) {
                        return false;
                    }
                    const long code = std::strtol(s_.substr(i_, 4).c_str(), nullptr, 16);
                    i_ += 4;
                    if (code > 0xFF) {
                        return false;  // the tools only ever escape single bytes
                    }
                    out += static_cast<char>(code);
                    break;
                }
                default:
                    return false;
            }
        }
        if (i_ >= s_.size()) {
            return false;
        }
        ++i_;
        return true;
    }

    const std::string& s_;
    size_t i_ = 0;
};

}  // namespace

const TJson& TJson::operator[](const std::string& name) const {
    auto it = Object.find(name);
    if (Kind != TKind::Object || it == Object.end()) {
        throw std::out_of_range("no member " + name);
    }
    return it->second;
}

const TJson& TJson::operator[](size_t index) const {
    if (Kind != TKind::Array || index >= Array.size()) {
        throw std::out_of_range("no element " + std::to_string(index));
    }
    return Array[index];
}

std::optional<TJson> ParseJson(const std::string& text) {
    TJson value;
    TJsonParser parser(text);
    if (!parser.Parse(value)) {
        return std::nullopt;
    }
    return value;
}
