// The capture file on disk and the recorder's hand-over, without sockets.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "capture/capture_queue.h"
#include "capture/capture_reader.h"
#include "capture/capture_summary.h"
#include "capture/capture_writer.h"
#include "sim/sample_data.h"

namespace {

capture::capture_record record(std::int64_t ns, const std::string& symbol, int sequence) {
    capture::capture_record r;
    r.receive_ns = ns;
    r.exchange_code = 'G';
    r.quote = sim::make_quote(symbol, sequence);
    return r;
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const std::int64_t ns[] = {1704420000123456789, 1704420000223456789, 1704420003223456789};

}  // namespace

TEST(CaptureFile, RecordsReadBackInOrderAndACutLastRecordEndsTheReading) {
    const std::string path = "capture_roundtrip.oqcap";
    capture::capture_writer writer;
    ASSERT_TRUE(
        writer.open(path, {capture::capture_version, 1704420000000000000, "127.0.0.1:7100"}));
    const capture::capture_record written[] = {
        record(ns[0], "Au(T+D)", 1), record(ns[1], "cu2506", 2), record(ns[2], "Au(T+D)", 3)};
    for (const auto& r : written) ASSERT_TRUE(writer.write(r));
    ASSERT_TRUE(writer.close());
    const std::string bytes = file_bytes(path);
    ASSERT_EQ(bytes.size(), capture::capture_header_size + 3 * capture::capture_record_size);
    EXPECT_EQ(writer.size(), bytes.size());
    // Little-endian on every machine: the first record's time starts with its lowest byte.
    EXPECT_EQ(static_cast<unsigned char>(bytes[capture::capture_header_size]), ns[0] & 0xFF);

    capture::capture_reader reader;
    ASSERT_TRUE(reader.open(path)) << reader.error();
    EXPECT_EQ(reader.header().server, "127.0.0.1:7100");
    EXPECT_EQ(reader.header().start_ns, 1704420000000000000);
    capture::capture_record got;
    for (const auto& r : written) {
        ASSERT_TRUE(reader.next(got));
        EXPECT_EQ(got.receive_ns, r.receive_ns);
        EXPECT_EQ(got.exchange_code, 'G');
        EXPECT_EQ(std::memcmp(&got.quote, &r.quote, sizeof r.quote), 0);
    }
    EXPECT_TRUE(!reader.next(got) && !reader.cut_short());

    const capture::capture_summary whole = capture::summarize_capture(path);
    EXPECT_EQ(whole.quotes, 3u);
    ASSERT_EQ(whole.symbols.size(), 2u);
    EXPECT_EQ(whole.symbols[0].symbol, "Au(T+D)");
    EXPECT_EQ(whole.symbols[0].quotes, 2u);
    EXPECT_EQ(whole.symbols[0].last_ns, ns[2]);
    EXPECT_EQ(whole.longest_gap_ns, ns[2] - ns[1]);
    EXPECT_EQ(whole.gap_start_ns, ns[1]);

    // A recorder killed in the middle of its third record.
    write_bytes(path, bytes.substr(0, bytes.size() - 100));
    const capture::capture_summary cut = capture::summarize_capture(path);
    EXPECT_TRUE(cut.error.empty() && cut.cut_short) << cut.error;
    EXPECT_EQ(cut.quotes, 2u);

    write_bytes(path, bytes.substr(0, capture::capture_header_size));
    const capture::capture_summary empty = capture::summarize_capture(path);
    EXPECT_TRUE(empty.error.empty() && !empty.cut_short && empty.quotes == 0);
    std::remove(path.c_str());
}

TEST(CaptureFile, RefusesWhatIsNotACaptureItCanRead) {
    const std::string path = "capture_bad.oqcap";
    capture::capture_writer writer;
    ASSERT_TRUE(writer.open(path, {capture::capture_version, 1, "x"}));
    ASSERT_TRUE(writer.write(record(ns[0], "cu2506", 1)) && writer.close());
    const std::string good = file_bytes(path);
    std::string newer = good;
    newer[8] = 2;
    std::string damaged = good;
    damaged[12] = 0;
    const struct {
        std::string bytes;
        const char* says;
    } cases[] = {{"", "not a quote capture"},
                 {"TradingDay,Symbol\n20240105,cu2506\n", "not a quote capture"},
                 {newer, "format version 2 is newer"},
                 {good.substr(0, 40), "header is cut short"},
                 {damaged, "header is damaged"}};
    for (const auto& c : cases) {
        write_bytes(path, c.bytes);
        capture::capture_reader reader;
        EXPECT_FALSE(reader.open(path));
        EXPECT_EQ(reader.error().rfind(path + ": ", 0), 0u) << reader.error();
        EXPECT_NE(reader.error().find(c.says), std::string::npos) << reader.error();
    }
    std::remove(path.c_str());
}

TEST(CaptureQueue, OverflowIsCountedAndNeverWaitedFor) {
    capture::capture_queue queue(3);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(queue.push(record(i, "cu2506", i)), i < 3);
    EXPECT_EQ(queue.dropped(), 2u);
    std::vector<capture::capture_record> taken;
    ASSERT_TRUE(queue.take_all(taken));
    ASSERT_EQ(taken.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(taken[static_cast<std::size_t>(i)].receive_ns, i);
    EXPECT_TRUE(queue.push(record(7, "cu2506", 7)));

    // A writer waiting on an empty queue finishes what is left once the queue closes.
    std::vector<std::int64_t> written;
    std::thread writer([&] {
        std::vector<capture::capture_record> batch;
        while (queue.take_all(batch))
            for (const auto& r : batch) written.push_back(r.receive_ns);
    });
    queue.close();
    writer.join();
    EXPECT_EQ(written, std::vector<std::int64_t>{7});
    EXPECT_FALSE(queue.push(record(8, "cu2506", 8)));
    EXPECT_EQ(queue.dropped(), 3u);
}

TEST(CaptureQueue, AWakeEndsTheWaitWithNothingTakenAndTheQueueStaysOpen) {
    capture::capture_queue queue(4);
    std::vector<capture::capture_record> batch{record(1, "cu2506", 1)};
    std::thread taker([&] { EXPECT_TRUE(queue.take_all(batch)); });
    queue.wake();
    taker.join();
    EXPECT_TRUE(batch.empty());
    EXPECT_TRUE(queue.push(record(2, "cu2506", 2)));
    queue.close();
    ASSERT_TRUE(queue.take_all(batch));
    EXPECT_EQ(batch.size(), 1u);
    EXPECT_FALSE(queue.take_all(batch));
}
