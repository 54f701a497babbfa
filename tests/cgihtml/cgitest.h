// Helpers of the cgihtml tests: entry lists as vectors, and streams over test data.
#pragma once

#include "cgihtml/cgihtml.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace cgitest {

using Pairs = std::vector<std::pair<std::string, std::string>>;

inline Pairs ToPairs(const CgiEntry *list)
{
    Pairs out;
    for (const CgiEntry *e = list; e != nullptr; e = e->next)
        out.emplace_back(e->name, e->value);
    return out;
}

// An entry list freed with the object.
struct List {
    CgiEntry *head = nullptr;
    List() = default;
    List(const List &) = delete;
    List &operator=(const List &) = delete;
    ~List() { CgiListClear(&head); }
    Pairs pairs() const { return ToPairs(head); }
};

// A read stream over a copy of the data (binary-safe), closed with the object.
class Stream {
public:
    explicit Stream(std::string data) : data_(std::move(data))
    {
        // fmemopen refuses a zero size; an empty stream is an empty temporary file.
        file_ = data_.empty() ? std::tmpfile() : fmemopen(data_.data(), data_.size(), "r");
    }
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;
    ~Stream()
    {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    FILE *get() const { return file_; }
    long consumed() const { return std::ftell(file_); }

private:
    std::string data_;
    FILE *file_ = nullptr;
};

// A write stream into memory (for prompts on the standard error).
class Sink {
public:
    Sink() { file_ = open_memstream(&buf_, &size_); }
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;
    ~Sink()
    {
        std::fclose(file_);
        std::free(buf_);
    }
    FILE *get() const { return file_; }
    std::string text()
    {
        std::fflush(file_);
        return std::string(buf_, size_);
    }

private:
    char *buf_ = nullptr;
    size_t size_ = 0;
    FILE *file_ = nullptr;
};

}  // namespace cgitest
