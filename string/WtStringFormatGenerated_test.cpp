// Generated printf formats: each must come out exactly as the runtime's snprintf
// makes it, in a buffer of exactly the larger of the class's estimate and the
// result. The estimate is worked out here from the parts the generator chose,
// not by parsing the format.
#include "string/WtString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <variant>
#include <vector>

namespace {

struct Conversion {
    std::string directive;
    std::vector<int> stars;  // width and precision arguments, in format order
    std::variant<int, long, double, const char*, void*> value;
    long long estimate = 0;
};

std::string Reference(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    std::string text(static_cast<size_t>(std::vsnprintf(nullptr, 0, format, measure)), '\0');
    va_end(measure);
    std::vsnprintf(&text[0], text.size() + 1, format, args);
    va_end(args);
    return text;
}

struct Kind {
    char letter;
    const char* flags;  // the flags this conversion defines
    bool takesPrecision;
    long long minimum;  // the estimate's floor; 0 for texts
};

const Kind kKinds[] = {
    {'c', "-", false, 0},     {'s', "-", true, 0},       {'d', "-0+ ", true, 32}, {'i', "-0+ ", true, 32},
    {'o', "-0#", true, 32},   {'u', "-0", true, 32},     {'x', "-0#", true, 32},  {'X', "-0#", true, 32},
    {'p', "-", false, 32},    {'e', "-0+ #", true, 128}, {'f', "-0+ #", true, 128},
    {'g', "-0+ #", true, 128}, {'G', "-0+ #", true, 128},
};

class FormatGenerator {
public:
    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }
    template <typename T, size_t N> T PickFrom(const T (&items)[N]) { return items[Pick(N)]; }

    // Plain characters and "%%", each of which the estimate counts as one.
    std::string Literal(long long& estimate)
    {
        static const char* const kPieces[] = {"a", " ", "%%", "\xE9", "0"};
        std::string text;
        for (int n = Pick(4); n > 0; --n, ++estimate)
            text += PickFrom(kPieces);
        return text;
    }

    Conversion Next()
    {
        static const std::string kLong(70, 'L');
        static const char* const kTexts[] = {nullptr, "", "x", "hello world", kLong.c_str()};
        static const int kInts[] = {0, 7, -1, INT_MIN, INT_MAX, 123456};
        static const long kLongs[] = {0, -1, LONG_MIN, LONG_MAX};
        static const double kDoubles[] = {0.0, -0.0, 1.5, -123.456, 1e-300, 1e200, 3.14159e10};
        static int object;

        const Kind& kind = PickFrom(kKinds);
        Conversion c;
        c.directive = "%";
        for (int n = Pick(3); n > 0; --n) {
            c.directive += kind.flags[Pick(static_cast<int>(std::strlen(kind.flags)))];
            c.estimate += c.directive.back() == '#' ? 2 : 0;
        }

        long long width = 0;
        if (const int form = Pick(3); form == 1) {
            width = 1 + Pick(40);
            c.directive += std::to_string(width);
        } else if (form == 2) {
            width = Pick(61) - 20;
            c.directive += '*';
            c.stars.push_back(static_cast<int>(width));
        }

        long long precision = 0;
        if (const int form = kind.takesPrecision ? Pick(4) : 0; form == 1) {
            c.directive += '.';
        } else if (form >= 2) {
            precision = Pick(21);
            c.directive += form == 2 ? '.' + std::to_string(precision) : ".*";
            if (form == 3)
                c.stars.push_back(static_cast<int>(precision));
        }

        const bool isInteger = kind.minimum == 32 && kind.letter != 'p';
        const int size = isInteger ? Pick(3) : 0;
        c.directive += size == 1 ? "h" : size == 2 ? "l" : "";
        c.directive += kind.letter;

        long long item = std::max(kind.minimum, width + precision);
        if (kind.letter == 'c') {
            c.value = 32 + Pick(95);
            item = std::max(2LL, width);
        } else if (kind.letter == 's') {
            const char* text = PickFrom(kTexts);
            c.value = text;
            item = text ? std::max<long long>(static_cast<long long>(std::strlen(text)), 1) : 6;
            item = std::max(precision != 0 ? std::min(item, precision) : item, width);
        } else if (kind.letter == 'p') {
            c.value = Pick(2) ? static_cast<void*>(&object) : nullptr;
        } else if (!isInteger) {
            c.value = Pick(2) ? PickFrom(kDoubles) : std::uniform_real_distribution<double>(-1e6, 1e6)(random_);
        } else if (size == 2) {
            c.value = PickFrom(kLongs);
        } else {
            c.value = Pick(2) ? PickFrom(kInts) : static_cast<int>(random_());
        }
        c.estimate += item;
        return c;
    }

private:
    std::mt19937 random_{20240611u};
};

// Calls f with one conversion's arguments (none for a null conversion), in printf order.
template <typename F>
void WithArguments(const Conversion* c, F&& f)
{
    if (!c)
        return f();
    std::visit(
        [&](auto value) {
            if (c->stars.empty())
                f(value);
            else if (c->stars.size() == 1)
                f(c->stars[0], value);
            else
                f(c->stars[0], c->stars[1], value);
        },
        c->value);
}

TEST(WtStringFormatGenerated, MatchesSnprintfInABufferOfTheEstimatedLength)
{
    FormatGenerator generator;
    int failures = 0;
    for (int round = 0; round < 5000 && failures < 10; ++round) {
        long long estimate = 0;
        std::string format = generator.Literal(estimate);
        std::vector<Conversion> conversions(static_cast<size_t>(generator.Pick(3)));
        for (Conversion& c : conversions) {
            c = generator.Next();
            estimate += c.estimate;
            format += c.directive + generator.Literal(estimate);
        }

        std::string text;
        std::string expected;
        int allocLength = 0;
        WithArguments(conversions.size() > 0 ? &conversions[0] : nullptr, [&](auto... a) {
            WithArguments(conversions.size() > 1 ? &conversions[1] : nullptr, [&](auto... b) {
                WtString s;
                s.Format(format.c_str(), a..., b...);
                text.assign(static_cast<const char*>(s), static_cast<size_t>(s.GetLength()));
                allocLength = s.GetAllocLength();
                expected = Reference(format.c_str(), a..., b...);
            });
        });

        const long long wanted = std::max(estimate, static_cast<long long>(expected.size()));
        if (text != expected || allocLength != wanted) {
            ++failures;
            ADD_FAILURE() << "\"" << format << "\" gave \"" << text << "\" in " << allocLength << ", not \""
                          << expected << "\" in " << wanted << " (estimate " << estimate << ")";
        }
    }
}

} // namespace
