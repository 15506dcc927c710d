// The pipeline's parts alone, with the system's converter (iconv) beside our codec.
#include "bench/benchdata.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/substringindex.h"
#include "runtime/core/textservices.h"
#include "text/forumname.h"
#include "text/textbetween.h"

#include <benchmark/benchmark.h>

#include <iconv.h>

using namespace pennaro;

namespace {

// Whole-buffer conversion with one iconv call, the fastest use of the system converter.
class Iconv final {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() { iconv_close(m_cd); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    qsizetype convert(QByteArrayView in, QByteArray& out) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* ip = const_cast<char*>(in.data());
        size_t il = static_cast<size_t>(in.size());
        char* op = out.data();
        size_t ol = static_cast<size_t>(out.size());
        iconv(m_cd, &ip, &il, &op, &ol);
        return out.size() - static_cast<qsizetype>(ol);
    }

private:
    iconv_t m_cd;
};

// Inputs: a real page (mostly ASCII markup), a list of names (mostly Chinese), and names
// full of emoji (four-byte forms).
struct Input {
    const char* name;
    QByteArray utf8;
};

const std::vector<Input>& inputs() {
    static const std::vector<Input> all = [] {
        std::vector<Input> v;
        v.push_back({"page", bench::pages().at(2).bytes});
        v.push_back({"names", QString::fromUtf16(
                                  reinterpret_cast<const char16_t*>(
                                      Cp936Codec::decode(bench::fillerList(512 * 1024)).utf16()))
                                  .toUtf8()});
        QString emoji;
        while (emoji.size() < 256 * 1024)
            emoji += u" @张海楼🍀 @尤尤呐ლ @阿玉么💨"_qs;
        v.push_back({"emoji", emoji.toUtf8()});
        return v;
    }();
    return all;
}

void setBytes(benchmark::State& state, qsizetype bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

void Utf8ToListCodePage(benchmark::State& state) {
    const Input& in = inputs()[state.range(0)];
    state.SetLabel(in.name);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cp936Codec::fromUtf8(in.utf8));
    setBytes(state, in.utf8.size());
}

void Utf8ToListCodePageIconv(benchmark::State& state) {
    const Input& in = inputs()[state.range(0)];
    state.SetLabel(in.name);
    Iconv iconv("GB18030", "UTF-8");
    QByteArray out(in.utf8.size() * 2, '\0');
    for (auto _ : state)
        benchmark::DoNotOptimize(iconv.convert(in.utf8, out));
    setBytes(state, in.utf8.size());
}

void ListCodePageToUtf16(benchmark::State& state) {
    const Input& in = inputs()[state.range(0)];
    state.SetLabel(in.name);
    const Text text = Cp936Codec::fromUtf8(in.utf8);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cp936Codec::decode(text));
    setBytes(state, text.size());
}

void ListCodePageToUtf16Iconv(benchmark::State& state) {
    const Input& in = inputs()[state.range(0)];
    state.SetLabel(in.name);
    const Text text = Cp936Codec::fromUtf8(in.utf8);
    Iconv iconv("UTF-16LE", "GB18030");
    QByteArray out(text.size() * 2 + 16, '\0');
    for (auto _ : state)
        benchmark::DoNotOptimize(iconv.convert(text, out));
    setBytes(state, text.size());
}

void Utf16ToListCodePage(benchmark::State& state) {
    const Input& in = inputs()[state.range(0)];
    state.SetLabel(in.name);
    const QString text = QString::fromUtf8(in.utf8);
    for (auto _ : state)
        benchmark::DoNotOptimize(Cp936Codec::encode(text));
    setBytes(state, text.size() * 2);
}

void Utf16ToListCodePageIconv(benchmark::State& state) {
    const Input& in = inputs()[state.range(0)];
    state.SetLabel(in.name);
    const QString text = QString::fromUtf8(in.utf8);
    const QByteArrayView units(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    Iconv iconv("GB18030", "UTF-16LE");
    QByteArray out(units.size() * 2, '\0');
    for (auto _ : state)
        benchmark::DoNotOptimize(iconv.convert(units, out));
    setBytes(state, units.size());
}

void ExtractAuthors(benchmark::State& state) {
    const bench::Page& page = bench::pages().at(state.range(0));
    state.SetLabel(page.name.toStdString());
    const Text text = Cp936Codec::fromUtf8(page.bytes);
    const Text marker = cp936(u"主题作者:");
    TextArray names;
    for (auto _ : state)
        benchmark::DoNotOptimize(extractBetween(text, marker, "\"", names));
    setBytes(state, text.size());
}

void SearchText1MiB(benchmark::State& state) {
    const Text list = bench::fillerList(1024 * 1024);
    // A name the list does not hold: the whole list is searched.
    const Text name = cp936(u"不在名单里的名字");
    for (auto _ : state)
        benchmark::DoNotOptimize(searchText(list, name));
    setBytes(state, list.size());
}

void IndexedMembership8MiB(benchmark::State& state) {
    SubstringIndex index;
    index.assign(bench::fillerList(8 * 1024 * 1024));
    const Text absent = cp936(u"不在名单里的名字");
    const Text present = cp936(u"用户") + QByteArray::number(6 * 7919 % 1000003);
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.contains(absent));
        benchmark::DoNotOptimize(index.contains(present));
    }
}

void EncodeForumName(benchmark::State& state) {
    const Text name = cp936(u"英雄联盟 lol🍀");
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeForumName(name, true, {}));
}

} // namespace

BENCHMARK(Utf8ToListCodePage)->DenseRange(0, 2);
BENCHMARK(Utf8ToListCodePageIconv)->DenseRange(0, 2);
BENCHMARK(ListCodePageToUtf16)->DenseRange(0, 2);
BENCHMARK(ListCodePageToUtf16Iconv)->DenseRange(0, 2);
BENCHMARK(Utf16ToListCodePage)->DenseRange(0, 2);
BENCHMARK(Utf16ToListCodePageIconv)->DenseRange(0, 2);
BENCHMARK(ExtractAuthors)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(SearchText1MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(IndexedMembership8MiB);
BENCHMARK(EncodeForumName);

BENCHMARK_MAIN();
