#include "text/regexobject.h"

#include "runtime/core/cp936codec.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <QString>

#include <algorithm>
#include <vector>

namespace pennaro {

namespace {

// Bounds for one search: a pattern that backtracks without end stops with an error, and a
// lazy repeat over a line of a whole page still fits the JIT stack.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 8 * 1024 * 1024;

template <auto Free> struct Releaser {
    template <typename T> void operator()(T* p) const { Free(p); }
};

using CompileContext = std::unique_ptr<pcre2_compile_context, Releaser<pcre2_compile_context_free>>;
using MatchContext = std::unique_ptr<pcre2_match_context, Releaser<pcre2_match_context_free>>;
using MatchData = std::unique_ptr<pcre2_match_data, Releaser<pcre2_match_data_free>>;
using JitStack = std::unique_ptr<pcre2_jit_stack, Releaser<pcre2_jit_stack_free>>;

PCRE2_SPTR unitsOf(const QString& s) {
    return reinterpret_cast<PCRE2_SPTR>(s.utf16());
}

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

namespace {

// A compiled pattern; immutable, so runs with the same pattern and options share it.
struct Compiled {
    Compiled() = default;
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;
    ~Compiled() { pcre2_code_free(code); }

    pcre2_code* code = nullptr; // null when the pattern did not compile
};

std::shared_ptr<const Compiled> compile(const QString& pattern, uint32_t options) {
    auto compiled = std::make_shared<Compiled>();
    if (CompileContext context{pcre2_compile_context_create(nullptr)}) {
        pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
        int error = 0;
        PCRE2_SIZE errorOffset = 0;
        compiled->code = pcre2_compile(unitsOf(pattern), static_cast<PCRE2_SIZE>(pattern.size()),
                                       options, &error, &errorOffset, context.get());
        // Without JIT the interpreter serves, only slower.
        if (compiled->code)
            pcre2_jit_compile(compiled->code, PCRE2_JIT_COMPLETE);
    }
    return compiled;
}

// Compiling, JIT included, costs more than running over a page: keep the last few patterns.
std::shared_ptr<const Compiled> compileCached(const QString& pattern, uint32_t options) {
    struct Entry {
        QString pattern;
        uint32_t options;
        std::shared_ptr<const Compiled> compiled;
    };
    static std::vector<Entry> cache;
    constexpr size_t kCapacity = 8;
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->options == options && it->pattern == pattern) {
            std::rotate(cache.begin(), it, it + 1);
            return cache.front().compiled;
        }
    }
    if (cache.size() == kCapacity)
        cache.pop_back();
    cache.insert(cache.begin(), Entry{pattern, options, compile(pattern, options)});
    return cache.front().compiled;
}

// One stack for the JIT, made on first need: its size limit is what bounds a run.
pcre2_jit_stack* jitStack() {
    static const JitStack stack{pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr)};
    return stack.get();
}

} // namespace

struct RegexObject::Engine {
    Text pattern;
    bool global = true;
    std::shared_ptr<const Compiled> compiled;
    pcre2_code* code() const { return compiled->code; }
};

struct RegexObject::Matches {
    QString subject; // as the engine saw it; the spans count its units
    int groups = 0;
    // Per match, (groups + 1) pairs of [start, end); -1 for a group that took no part.
    std::vector<qsizetype> spans;

    int count() const { return static_cast<int>(spans.size() / (2 * (groups + 1))); }
};

RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(const RegexObject& other) = default;
RegexObject& RegexObject::operator=(const RegexObject& other) = default;

std::unique_ptr<RegexObject> RegexObject::clone() const {
    return std::make_unique<RegexObject>(*this);
}

bool RegexObject::compileAndExecute(QByteArrayView pattern, QByteArrayView subject,
                                    std::optional<bool> caseSensitive,
                                    std::optional<bool> multiline, std::optional<bool> global) {
    auto engine = std::make_shared<Engine>();
    engine->pattern = pattern.toByteArray();
    engine->global = global.value_or(true);

    uint32_t options = 0;
    if (!caseSensitive.value_or(false))
        options |= PCRE2_CASELESS;
    options |= multiline.value_or(true) ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;

    engine->compiled = compileCached(Cp936Codec::decode(pattern), options);

    m_engine = engine;
    m_matches.reset();
    m_subject = subject.toByteArray();
    if (!engine->code())
        return false;

    auto found = std::make_shared<Matches>();
    found->subject = Cp936Codec::decode(subject);
    uint32_t captures = 0;
    pcre2_pattern_info(engine->code(), PCRE2_INFO_CAPTURECOUNT, &captures);
    found->groups = static_cast<int>(captures);

    MatchData data{pcre2_match_data_create_from_pattern(engine->code(), nullptr)};
    MatchContext context{pcre2_match_context_create(nullptr)};
    if (!data || !context)
        return false;
    pcre2_set_match_limit(context.get(), kMatchLimit);
    if (pcre2_jit_stack* stack = jitStack())
        pcre2_jit_stack_assign(context.get(), nullptr, stack);

    const PCRE2_SPTR units = unitsOf(found->subject);
    const auto length = static_cast<PCRE2_SIZE>(found->subject.size());
    PCRE2_SIZE from = 0;
    while (from <= length) {
        const int rc =
            pcre2_match(engine->code(), units, length, from, 0, data.get(), context.get());
        if (rc == PCRE2_ERROR_NOMATCH)
            break;
        if (rc < 0)
            return false;
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
        for (uint32_t g = 0; g <= captures; ++g) {
            const bool set = g < static_cast<uint32_t>(rc) && ovector[2 * g] != PCRE2_UNSET;
            found->spans.push_back(set ? static_cast<qsizetype>(ovector[2 * g]) : -1);
            found->spans.push_back(set ? static_cast<qsizetype>(ovector[2 * g + 1]) : -1);
        }
        if (!engine->global)
            break;
        // The next search resumes where this match ended, one unit on after an empty match.
        from = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
    }
    m_matches = std::move(found);
    return true;
}

Text RegexObject::patternText() const {
    return m_engine ? m_engine->pattern : Text();
}

Text RegexObject::replaceMatches(QByteArrayView replacement) const {
    if (!m_engine || !m_matches)
        return {};
    const QString& subject = m_matches->subject;
    const QString with = Cp936Codec::decode(replacement);
    QString out;
    qsizetype copied = 0;
    for (int i = 0; i < m_matches->count(); ++i) {
        const auto [start, end] = *span(i, 0);
        out += QStringView(subject).sliced(copied, start - copied);
        auto group = [&](int g) {
            if (const auto s = span(i, g))
                out += QStringView(subject).sliced(s->first, s->second - s->first);
        };
        for (qsizetype k = 0; k < with.size(); ++k) {
            const QChar c = with[k];
            const QChar next = k + 1 < with.size() ? with[k + 1] : QChar();
            if (c != u'$' || next.isNull()) {
                out += c;
            } else if (next == u'$') {
                out += c;
                ++k;
            } else if (next == u'&') {
                group(0);
                ++k;
            } else if (next == u'`') {
                out += QStringView(subject).first(start);
                ++k;
            } else if (next == u'\'') {
                out += QStringView(subject).sliced(end);
                ++k;
            } else if (isAsciiDigit(next)) {
                const int one = next.unicode() - u'0';
                const bool twoDigits = k + 2 < with.size() && isAsciiDigit(with[k + 2]);
                const int two = twoDigits ? one * 10 + (with[k + 2].unicode() - u'0') : 0;
                if (two >= 1 && two <= m_matches->groups) {
                    group(two);
                    k += 2;
                } else if (one >= 1 && one <= m_matches->groups) {
                    group(one);
                    ++k;
                } else {
                    out += c;
                }
            } else {
                out += c;
            }
        }
        copied = end;
    }
    out += QStringView(subject).sliced(copied);
    return Cp936Codec::encode(out);
}

int RegexObject::matchCount() const {
    return m_matches ? m_matches->count() : 0;
}

Text RegexObject::matchText(int index, int* position) const {
    return spanText(span(index - 1, 0), position);
}

Text RegexObject::subMatchText(int index, int subIndex, int* position) const {
    if (subIndex < 1)
        return spanText(std::nullopt, position);
    return spanText(span(index - 1, subIndex), position);
}

int RegexObject::subMatchCount() const {
    return matchCount() > 0 ? m_matches->groups : 0;
}

std::optional<std::pair<qsizetype, qsizetype>> RegexObject::span(int index, int group) const {
    if (!m_matches || index < 0 || index >= m_matches->count() || group < 0 ||
        group > m_matches->groups)
        return std::nullopt;
    const auto at = static_cast<std::size_t>(2 * (index * (m_matches->groups + 1) + group));
    const qsizetype start = m_matches->spans[at];
    if (start < 0)
        return std::nullopt;
    return std::pair{start, m_matches->spans[at + 1]};
}

Text RegexObject::spanText(std::optional<std::pair<qsizetype, qsizetype>> range,
                           int* position) const {
    if (!range) {
        if (position)
            *position = kNoPosition;
        return {};
    }
    const auto [start, end] = *range;
    if (position)
        *position = static_cast<int>(Cp936Codec::byteOffsetOfUnit(m_subject, start));
    return Cp936Codec::encode(QStringView(m_matches->subject).sliced(start, end - start));
}

} // namespace pennaro
