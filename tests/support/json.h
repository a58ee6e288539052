// A small JSON reader for checking what the tools print.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TJson {
    enum class TKind { Null, Bool, Number, String, Array, Object } Kind = TKind::Null;
    bool Bool = false;
    double Number = 0;
    std::string String;
    std::vector<TJson> Array;
    std::map<std::string, TJson> Object;

    // The member `name`; throws when this is not an object holding it.
    const TJson& operator[](const std::string& name) const;
    const TJson& operator[](size_t index) const;
};

// Parses one JSON text; nothing when it is not valid JSON.
std::optional<TJson> ParseJson(const std::string& text);
