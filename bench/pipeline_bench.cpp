// The page pipeline as a run does it: page bytes -> page text in the list's code page ->
// author names -> strip, membership test and append into the real list box, offscreen.
#include "app/extractionrun.h"
#include "app/net/pagecharset.h"
#include "bench/benchdata.h"
#include "runtime/core/allocator.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/textservices.h"
#include "runtime/gui/listedit.h"
#include "runtime/gui/windowservices.h"
#include "text/textbetween.h"

#include <benchmark/benchmark.h>

#include <QApplication>

using namespace pennaro;

namespace {

const qsizetype kListSizes[] = {0, 64 * 1024, 1024 * 1024, 8 * 1024 * 1024};

void pagePipeline(benchmark::State& state, int pageIndex, qsizetype listBytes) {
    const bench::Page& page = bench::pages().at(pageIndex);
    const Text filler = bench::fillerList(listBytes);
    const HttpResponse response{page.bytes, "text/html; charset=UTF-8"};
    const Text leftMarker = cp936(u"主题作者:");
    ListEdit list;
    list.resize(488, 224);
    list.show();
    setMainWindowOpen(true);
    TextArray names;
    for (auto _ : state) {
        state.PauseTiming();
        // A list of its own, as the box holds after loading: appends then grow it in place.
        list.setBytes(Text(filler.constData(), filler.size()));
        // In a run the view already stands at the end of the list after the first page.
        list.moveCursor(QTextCursor::End);
        QCoreApplication::processEvents();
        state.ResumeTiming();

        const Text pageText = bytesToText(pageBytesInListCodePage(response));
        extractBetween(pageText, leftMarker, "\"", names);
        ExtractionRun::appendNewNames(&list, names);
        // The names reach the document and are laid out, as before the run's event point.
        list.flushAppends();
    }
    state.counters["names"] = static_cast<double>(names.size());
    state.counters["list_bytes"] = static_cast<double>(filler.size());
}

// What the run's event point after a page costs on top: painting the box with the new names.
void eventPoint(benchmark::State& state, qsizetype listBytes) {
    const Text filler = bench::fillerList(listBytes);
    const Text page = Cp936Codec::fromUtf8(bench::pages().at(2).bytes);
    ListEdit list;
    list.resize(488, 224);
    list.show();
    setMainWindowOpen(true);
    TextArray names;
    extractBetween(page, cp936(u"主题作者:"), "\"", names);
    for (auto _ : state) {
        state.PauseTiming();
        list.setBytes(Text(filler.constData(), filler.size()));
        QCoreApplication::processEvents();
        ExtractionRun::appendNewNames(&list, names);
        list.flushAppends();
        state.ResumeTiming();
        pumpEvents();
    }
}

void registerPipelines() {
    for (int p = 0; p < bench::pages().size(); ++p) {
        for (qsizetype size : kListSizes) {
            const std::string name = "Pipeline/" + bench::pages()[p].name.toStdString() +
                                     "/list:" + std::to_string(size / 1024) + "KiB";
            benchmark::RegisterBenchmark(name.c_str(), pagePipeline, p, size)
                ->Unit(benchmark::kMicrosecond)
                ->Iterations(size >= 1024 * 1024 ? 20 : 60)
                ->Repetitions(3)
                ->ReportAggregatesOnly(true);
        }
    }
    for (qsizetype size : kListSizes) {
        const std::string name = "EventPoint/list:" + std::to_string(size / 1024) + "KiB";
        benchmark::RegisterBenchmark(name.c_str(), eventPoint, size)
            ->Unit(benchmark::kMicrosecond)
            ->Iterations(20)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    pennaro::keepFreedMemoryForReuse();
    QApplication app(argc, argv);
    registerPipelines();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
