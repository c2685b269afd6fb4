// A preview player whose position the test sets, for exact marker figures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/app_exception.h"
#include "sources/part_marker.h"

namespace tolvane::test {

class ScriptedPlayer : public pages::MarkerPlayer {
public:
    std::string opened;
    int plays = 0;
    int stops = 0;
    std::vector<int> seeks;
    int at = 0;              // the position reported
    std::int64_t atMs = -1;  // the moment heard, in milliseconds (-1: the start of `at`)
    int seconds = 30;        // the length reported
    bool running = false;
    std::string openFailure;  // a ReaderException message for open, when set

    void open(const std::string& path) override {
        if (!openFailure.empty())
            throw ReaderException(openFailure);
        opened = path;
        at = 0;
    }
    void play() override {
        ++plays;
        running = true;
    }
    void stop() override {
        ++stops;
        running = false;
    }
    void seek(int second) override {
        seeks.push_back(second);
        at = second;
    }
    int position() override { return at; }
    std::int64_t positionMs() override { return atMs >= 0 ? atMs : std::int64_t(at) * 1000; }
    int length() override { return seconds; }
    bool stopped() override { return !running; }
};

}  // namespace tolvane::test
