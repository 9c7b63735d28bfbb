// Many generated printf formats: each must format exactly like the runtime's own
// snprintf, into a buffer of exactly the larger of the class's estimate and the
// result. The estimate is computed here from the parts the generator chose, not
// by parsing the format.
#include "string/WtString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace {

using Value = std::variant<int, long, double, const char*, void*>;

struct Conversion {
    std::string spec;
    std::vector<int> stars;  // width and precision arguments, in format order
    Value value;
    long long estimate;
};

std::string Reference(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
    std::vsnprintf(&text[0], text.size() + 1, format, args);
    va_end(args);
    return text;
}

class FormatGenerator {
public:
    explicit FormatGenerator(unsigned seed) : random_(seed) {}

    Conversion NextConversion()
    {
        static const char kConversions[] = "csdiouxXpefgG";
        const char conversion = kConversions[Pick(sizeof kConversions - 1)];
        const bool isInteger = std::strchr("diouxX", conversion) != nullptr;
        const bool isFloat = std::strchr("efgG", conversion) != nullptr;
        const bool isSigned = isFloat || conversion == 'd' || conversion == 'i';
        const bool isText = conversion == 'c' || conversion == 's';

        Conversion c;
        c.spec = "%";
        c.estimate = 0;

        std::string allowedFlags = "-";
        if (isInteger || isFloat)
            allowedFlags += '0';
        if (isSigned)
            allowedFlags += "+ ";
        if (isFloat || conversion == 'o' || conversion == 'x' || conversion == 'X')
            allowedFlags += '#';
        for (int n = Pick(3); n > 0; --n) {
            const char flag = allowedFlags[Pick(static_cast<int>(allowedFlags.size()))];
            c.spec += flag;
            if (flag == '#')
                c.estimate += 2;
        }

        long long width = 0;
        switch (Pick(3)) {
        case 1:
            width = 1 + Pick(40);
            c.spec += std::to_string(width);
            break;
        case 2:
            width = Pick(61) - 20;
            c.spec += '*';
            c.stars.push_back(static_cast<int>(width));
            break;
        default:
            break;
        }

        long long precision = 0;
        if (conversion != 'c' && conversion != 'p') {
            switch (Pick(4)) {
            case 1:
                c.spec += '.';
                break;
            case 2:
                precision = Pick(21);
                c.spec += '.' + std::to_string(precision);
                break;
            case 3:
                precision = Pick(21);
                c.spec += ".*";
                c.stars.push_back(static_cast<int>(precision));
                break;
            default:
                break;
            }
        }

        bool isLong = false;
        if (isInteger) {
            switch (Pick(3)) {
            case 1: c.spec += 'h'; break;
            case 2: c.spec += 'l'; isLong = true; break;
            default: break;
            }
        }
        c.spec += conversion;

        long long item = 0;
        if (isText) {
            if (conversion == 'c') {
                c.value = 32 + Pick(95);
                item = 2;
            } else {
                const char* text = PickText();
                c.value = text;
                item = text ? std::max<long long>(static_cast<long long>(std::strlen(text)), 1) : 6;
            }
            if (precision != 0)
                item = std::min(item, precision);
            item = std::max(item, width);
        } else if (isInteger || conversion == 'p') {
            if (conversion == 'p')
                c.value = PickPointer();
            else if (isLong)
                c.value = PickLong();
            else
                c.value = PickInt();
            item = std::max<long long>(32, width + precision);
        } else {
            c.value = PickDouble();
            item = std::max<long long>(128, width + precision);
        }
        c.estimate += item;
        return c;
    }

    // Plain characters and "%%", each of which the estimate counts as one.
    std::string NextLiteral(long long& estimate)
    {
        static const char* const kPieces[] = {"a", "Z", " ", "-", "%%", "\xE9", "\t", "0"};
        std::string text;
        for (int n = Pick(4); n > 0; --n) {
            text += kPieces[Pick(sizeof kPieces / sizeof kPieces[0])];
            ++estimate;
        }
        return text;
    }

    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

private:
    const char* PickText()
    {
        static const std::string kLong(70, 'L');
        static const char* const kTexts[] = {nullptr, "", "x", "hello world", kLong.c_str(), "\xE9t\xE9"};
        return kTexts[Pick(sizeof kTexts / sizeof kTexts[0])];
    }

    int PickInt()
    {
        static const int kInts[] = {0, 7, -1, 42, INT_MIN, INT_MAX};
        if (Pick(2))
            return kInts[Pick(sizeof kInts / sizeof kInts[0])];
        return static_cast<int>(random_());
    }

    long PickLong()
    {
        static const long kLongs[] = {0, -1, LONG_MIN, LONG_MAX};
        if (Pick(2))
            return kLongs[Pick(sizeof kLongs / sizeof kLongs[0])];
        return static_cast<long>((static_cast<unsigned long long>(random_()) << 32) | random_());
    }

    double PickDouble()
    {
        static const double kDoubles[] = {0.0, -0.0, 1.5, -123.456, 1e-300, 1e200, 3.14159e10, 0.1};
        if (Pick(2))
            return kDoubles[Pick(sizeof kDoubles / sizeof kDoubles[0])];
        return std::uniform_real_distribution<double>(-1e6, 1e6)(random_);
    }

    void* PickPointer()
    {
        static int object;
        void* const kPointers[] = {nullptr, &object, reinterpret_cast<void*>(0x1234)};
        return kPointers[Pick(sizeof kPointers / sizeof kPointers[0])];
    }

    std::mt19937 random_;
};

// Calls f with the arguments of one conversion (or none), in the order printf takes them.
template <typename F>
void WithArguments(const Conversion* c, F&& f)
{
    if (!c) {
        f();
        return;
    }
    std::visit(
        [&](auto value) {
            switch (c->stars.size()) {
            case 0: f(value); break;
            case 1: f(c->stars[0], value); break;
            default: f(c->stars[0], c->stars[1], value); break;
            }
        },
        c->value);
}

struct Outcome {
    std::string text;
    int allocLength;
    std::string expected;
};

template <typename... Args>
Outcome FormatBothWays(const std::string& format, Args... args)
{
    WtString s;
    s.Format(format.c_str(), args...);
    return {std::string(static_cast<const char*>(s), static_cast<size_t>(s.GetLength())),
            s.GetAllocLength(), Reference(format.c_str(), args...)};
}

TEST(WtStringFormatGenerated, MatchesSnprintfInABufferOfTheEstimatedLength)
{
    FormatGenerator generator(20240611u);
    int failures = 0;
    for (int round = 0; round < 5000 && failures < 10; ++round) {
        long long estimate = 0;
        std::string format = generator.NextLiteral(estimate);
        std::vector<Conversion> conversions;
        for (int n = generator.Pick(3); n > 0; --n) {
            conversions.push_back(generator.NextConversion());
            estimate += conversions.back().estimate;
            format += conversions.back().spec;
            format += generator.NextLiteral(estimate);
        }
        const Conversion* first = conversions.size() > 0 ? &conversions[0] : nullptr;
        const Conversion* second = conversions.size() > 1 ? &conversions[1] : nullptr;

        Outcome outcome;
        WithArguments(first, [&](auto... a) {
            WithArguments(second, [&](auto... b) { outcome = FormatBothWays(format, a..., b...); });
        });

        const long long wantedAlloc = std::max<long long>(estimate, static_cast<long long>(outcome.expected.size()));
        if (outcome.text != outcome.expected || outcome.allocLength != wantedAlloc) {
            ++failures;
            ADD_FAILURE() << "format \"" << format << "\": got \"" << outcome.text << "\" in "
                          << outcome.allocLength << ", expected \"" << outcome.expected << "\" in "
                          << wantedAlloc << " (estimate " << estimate << ")";
        }
    }
}

} // namespace
