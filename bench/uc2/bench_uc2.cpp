// UTF-8 to ISO-8859-15 (and back) against glibc iconv on the same input, side by side: person
// names of about 40 bytes, and 1 MiB of mixed text. iconv's descriptor is opened once and
// reused. Both inputs use only characters on which the two agree, and the outputs are compared
// before anything is timed. At the end the throughput ratio of each pair is printed.
#include "uc2/uc2.h"

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> &Names()
{
    static const std::vector<std::string> names = {
        "J\xC3\xBCrgen M\xC3\xBCller-L\xC3\xBC"
        "denscheidt (Vertrieb)",
        "Fran\xC3\xA7oise Lef\xC3\xA8vre-Ch\xC3\xA2teauneuf, Paris",
        "Bj\xC3\xB6rn \xC3\x85ngstr\xC3\xB6m, Abteilung F\xC3\xBCnf 12",
        "Jos\xC3\xA9 Mar\xC3\xAD"
        "a Nu\xC3\xB1"
        "ez Garc\xC3\xAD"
        "a, Sevilla",
        "Dagmar Schr\xC3\xB6"
        "der, Stra\xC3\x9F"
        "e der Einheit 7",
        "Oldrich \xC5\xA0imek, Kosten 200 \xE2\x82\xAC pro Tag",
        "Maximilian Oberhuber-Steinacher, Verwaltung",
        "S\xC3\xB8ren Kierkeg\xC3\xA5rd, K\xC3\xB8"
        "benhavn 1813",
    };
    return names;
}

// 1 MiB of mixed text: mostly ASCII words with Latin-9 letters and euro signs among them.
const std::string &Text()
{
    static const std::string text = [] {
        const char *words[] = {
            "Gesch\xC3\xA4"
            "ftsbericht",
            "the",
            "quarterly",
            "r\xC3\xA9sum\xC3\xA9",
            "na\xC3\xAFve",
            "1200 \xE2\x82\xAC",
            "Stra\xC3\x9F"
            "e",
            "and",
            "\xC5\x92uvre",
            "fa\xC3\xA7"
            "ade",
            "message",
            "delivery",
            "\xC3\x85"
            "sa",
            "\xC5\xBD"
            "ilina",
            "report,",
            "Gr\xC3\xBC\xC3\x9F"
            "e.",
            "of",
            "system",
            "\xC3\xB1"
            "and\xC3\xBA",
            "fax\n",
        };
        std::string t;
        size_t i = 0;
        while (t.size() < (1u << 20)) {
            t += words[i % (sizeof words / sizeof words[0])];
            t += ' ';
            i = i * 7 + 3;
        }
        t.resize(1u << 20);
        // Do not end inside a character.
        while (!t.empty() && (static_cast<unsigned char>(t.back()) & 0xC0) == 0x80)
            t.pop_back();
        if (!t.empty() && static_cast<unsigned char>(t.back()) >= 0xC0)
            t.pop_back();
        return t;
    }();
    return text;
}

class Iconv {
public:
    Iconv(const char *to, const char *from) : cd_(iconv_open(to, from))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            perror("iconv_open");
            exit(1);
        }
    }
    ~Iconv() { iconv_close(cd_); }
    // Converts in into out (terminated); returns the output length or -1.
    long Convert(const std::string &in, char *out, size_t outSize)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char *src = const_cast<char *>(in.data());
        size_t srcLeft = in.size();
        char *dst = out;
        size_t dstLeft = outSize - 1;
        if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1))
            return -1;
        *dst = '\0';
        return dst - out;
    }

private:
    iconv_t cd_;
};

Iconv &ToIso()
{
    static Iconv cd("ISO-8859-15", "UTF-8");
    return cd;
}
Iconv &ToUtf8()
{
    static Iconv cd("UTF-8", "ISO-8859-15");
    return cd;
}

std::string Uc2ToIso(const std::string &in)
{
    std::string out(in.size() + 1, '\0');
    utf8_to_iso_buf(in.c_str(), out.data(), out.size(), nullptr);
    return out.c_str();
}

std::string IconvToIso(const std::string &in)
{
    std::string out(in.size() + 1, '\0');
    if (ToIso().Convert(in, out.data(), out.size()) < 0)
        return "<iconv failed>";
    return out.c_str();
}

// Both converters give the same bytes on the corpora, else the timings mean nothing.
bool SameOutputs()
{
    bool same = true;
    for (const std::string &n : Names())
        same = same && Uc2ToIso(n) == IconvToIso(n);
    same = same && Uc2ToIso(Text()) == IconvToIso(Text());
    const std::string iso = Uc2ToIso(Text());
    std::string a(iso.size() * 3 + 1, '\0');
    std::string b(iso.size() * 3 + 1, '\0');
    iso_to_utf8_buf(iso.c_str(), a.data(), a.size());
    same = same && ToUtf8().Convert(iso, b.data(), b.size()) >= 0 && a.c_str() == std::string(b.c_str());
    return same;
}

void Names_Uc2(benchmark::State &state)
{
    char out[128];
    size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string &n : Names()) {
            benchmark::DoNotOptimize(utf8_to_iso_buf(n.c_str(), out, sizeof out, nullptr));
            bytes += n.size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void Names_Iconv(benchmark::State &state)
{
    char out[128];
    size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string &n : Names()) {
            benchmark::DoNotOptimize(ToIso().Convert(n, out, sizeof out));
            bytes += n.size();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void Text_Uc2(benchmark::State &state)
{
    const std::string &text = Text();
    std::vector<char> out(text.size() + 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(utf8_to_iso_buf(text.c_str(), out.data(), out.size(), nullptr));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Text_Iconv(benchmark::State &state)
{
    const std::string &text = Text();
    std::vector<char> out(text.size() + 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(ToIso().Convert(text, out.data(), out.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

const std::string &IsoText()
{
    static const std::string iso = Uc2ToIso(Text());
    return iso;
}

void ReverseText_Uc2(benchmark::State &state)
{
    const std::string &iso = IsoText();
    std::vector<char> out(iso.size() * 3 + 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(iso_to_utf8_buf(iso.c_str(), out.data(), out.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * iso.size()));
}

void ReverseText_Iconv(benchmark::State &state)
{
    const std::string &iso = IsoText();
    std::vector<char> out(iso.size() * 3 + 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(ToUtf8().Convert(iso, out.data(), out.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * iso.size()));
}

BENCHMARK(Names_Uc2);
BENCHMARK(Names_Iconv);
BENCHMARK(Text_Uc2)->Unit(benchmark::kMicrosecond);
BENCHMARK(Text_Iconv)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReverseText_Uc2)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReverseText_Iconv)->Unit(benchmark::kMicrosecond);

// The console report, followed by the throughput ratio of each X_Uc2 / X_Iconv pair.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            auto it = r.counters.find("bytes_per_second");
            const std::string name = r.benchmark_name();
            const bool spread =
                r.run_type == Run::RT_Aggregate && r.aggregate_name != "mean" && r.aggregate_name != "median";
            if (it != r.counters.end() && !spread)
                rates_[name] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const auto &[name, rate] : rates_) {
            const std::string::size_type at = name.rfind("_Uc2");
            if (at == std::string::npos)
                continue;
            const auto other = rates_.find(name.substr(0, at) + "_Iconv" + name.substr(at + 4));
            if (other != rates_.end() && other->second > 0)
                printf("ratio %-22s uc2/iconv = %.2f\n", (name.substr(0, at) + name.substr(at + 4)).c_str(),
                       rate / other->second);
        }
    }

private:
    std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char **argv)
{
    if (!SameOutputs()) {
        fprintf(stderr, "uc2 and iconv disagree on the benchmark input\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
