// The commands a SeedLink client sends, one per line, read by pure functions so that every
// line can be checked on its own: a line in, a command or the reason it is refused out.
// Commands and their arguments are case-insensitive; lines end with CR, LF or CR LF and hold
// at most MaxCommandLine bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t MaxCommandLine = 255;

// One SELECT pattern: [!][LL]CCC[.T]. `?` matches any one character, `-` in the location a
// blank (an empty location is two blanks in a record). Without a location any location
// matches; without a type, type D.
struct TStreamPattern {
    bool Negated = false;
    std::string Location;  // "" (any) or two characters
    std::string Channel;   // three characters
    char Type = 'D';       // D, E, C, T, L, O or '?'

    bool Matches(std::string_view location, std::string_view channel, char type) const;
    // As a client would write it (upper case).
    std::string Text() const;
    bool operator==(const TStreamPattern&) const = default;
};

// What SELECT commands have added up to: a stream is selected when no positive pattern was
// given or one of them matches, and no negative one matches.
class TStreamSelection {
  public:
    void Add(const TStreamPattern& pattern);
    void Clear() { patterns_.clear(); }
    bool Selects(std::string_view location, std::string_view channel, char type) const;
    bool Empty() const { return patterns_.empty(); }
    // The patterns as text, blank-separated; "*" for everything.
    std::string Text() const;
    // More patterns than this are refused (each SELECT answers ERROR).
    static constexpr size_t MaxPatterns = 64;
    size_t Size() const { return patterns_.size(); }

  private:
    std::vector<TStreamPattern> patterns_;
};

// A pattern's text to a pattern, or nothing when it is not one.
std::optional<TStreamPattern> ParseStreamPattern(std::string_view text);

// `?` in `pattern` matches any one character; otherwise equal, ignoring case. `*` as the
// whole pattern matches everything.
bool WildcardMatches(std::string_view pattern, std::string_view text);

enum class TSeedLinkVerb { Hello, Cat, Bye, Station, Select, Data, Fetch, Time, End, Info };

struct TSeedLinkCommand {
    TSeedLinkVerb Verb = TSeedLinkVerb::Hello;
    // STATION: the station and network codes (upper case; may hold `?`); Network "" = any.
    std::string Station, Network;
    // SELECT: the pattern, or nothing for "every stream".
    std::optional<TStreamPattern> Pattern;
    // DATA, FETCH: the sequence number of the first packet wanted (0 to FFFFFF).
    std::optional<uint32_t> Sequence;
    // DATA, FETCH: the start time; TIME: the window. Microseconds since 1970 UTC.
    std::optional<int64_t> Begin, End;
    // INFO: the level in upper case, known or not.
    std::string Level;

    bool operator==(const TSeedLinkCommand&) const = default;
};

struct TSeedLinkParse {
    std::optional<TSeedLinkCommand> Command;
    std::string Error;  // why the line is refused, when there is no command
};

// One line without its end. An empty line (or only blanks) is an error, as is any byte that
// is not printable ASCII; the reader skips empty lines before they come here.
TSeedLinkParse ParseSeedLinkCommand(std::string_view line);

// "YYYY,MM,DD,hh,mm,ss" (seconds may have a fraction) to microseconds since 1970.
std::optional<int64_t> ParseSeedLinkTime(std::string_view text);

// Cuts the bytes a client sends into command lines, holding at most MaxCommandLine bytes of
// an unfinished line: a longer line is given once as overlong and the rest of it, up to its
// end, is dropped.
class TCommandLines {
  public:
    struct TLine {
        std::string Text;
        bool Overlong = false;
    };
    // Adds bytes; every line they finish (empty ones skipped) goes to `out`.
    void Feed(std::string_view bytes, std::vector<TLine>& out);
    size_t Held() const { return partial_.size(); }

  private:
    std::string partial_;
    bool discarding_ = false;
};
