#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "net/buffer_pool.h"
#include "net/data_queue.h"
#include "net/stream_buffer.h"
#include "net/winsock_counter.h"
#include "tools/bad_str_key.h"

namespace {

using KESTRO::TOOLS::stream_buffer;

std::string unread(stream_buffer& buffer) {
    return buffer.length() == 0 ? std::string() : std::string(buffer.data(), buffer.length());
}

void expect_positions(stream_buffer& buffer, std::uint64_t read, std::uint64_t write,
                      std::uint64_t capacity) {
    EXPECT_EQ(buffer.read_position(), read);
    EXPECT_EQ(buffer.write_position(), write);
    EXPECT_EQ(buffer.capacity(), capacity);
    EXPECT_EQ(buffer.length(), write - read);
}

TEST(net_stream_buffer, positions_follow_append_compaction_growth_and_consume) {
    stream_buffer buffer(8);
    expect_positions(buffer, 0, 0, 8);
    ASSERT_TRUE(buffer.append("abcde", 5));  // fits behind the write position
    expect_positions(buffer, 0, 5, 8);
    ASSERT_TRUE(buffer.consume(2));
    expect_positions(buffer, 2, 5, 8);
    ASSERT_TRUE(buffer.append("fgh", 3));  // exactly fills the block
    expect_positions(buffer, 2, 8, 8);
    ASSERT_TRUE(buffer.append("ij", 2));  // fits only once the unread bytes move to the front
    expect_positions(buffer, 0, 8, 8);
    EXPECT_EQ(unread(buffer), "cdefghij");
    ASSERT_TRUE(buffer.consume(1));
    expect_positions(buffer, 1, 8, 8);
    ASSERT_TRUE(buffer.append("klmn", 4));  // grows to twice the capacity
    expect_positions(buffer, 0, 11, 16);
    EXPECT_EQ(unread(buffer), "defghijklmn");
    const std::string big(30, 'z');
    ASSERT_TRUE(buffer.append(big.data(), big.size()));  // grows to what is needed
    expect_positions(buffer, 0, 41, 41);
    EXPECT_EQ(unread(buffer), "defghijklmn" + big);
    ASSERT_TRUE(buffer.consume(40));
    expect_positions(buffer, 40, 41, 41);
    ASSERT_TRUE(buffer.consume(1));  // exactly to the end
    expect_positions(buffer, 0, 0, 41);
    ASSERT_TRUE(buffer.append("xy", 2));
    ASSERT_TRUE(buffer.consume(5));  // past the end
    expect_positions(buffer, 0, 0, 41);
    ASSERT_TRUE(buffer.append("xy", 2));
    ASSERT_TRUE(buffer.assign("pq", 2));
    expect_positions(buffer, 0, 2, 41);
    EXPECT_EQ(unread(buffer), "pq");
    buffer.clear();
    expect_positions(buffer, 0, 0, 41);
}

TEST(net_data_queue, is_first_in_first_out_and_refuses_front_when_empty) {
    data_queue queue;
    EXPECT_TRUE(queue.empty());
    try {
        queue.front();
        ADD_FAILURE() << "front() of an empty queue returned";
    } catch (const KESTRO::TOOLS::bad_str_key& error) {
        EXPECT_STREQ(error.what(), "data queue empty ");
        EXPECT_EQ(error.code(), -1);
    }
    queue.pop_front();
    EXPECT_TRUE(queue.empty());

    // Interleaved pushes and pops across several growths of the ring.
    std::deque<stream_buffer> buffers;
    for (int i = 0; i < 300; ++i) buffers.emplace_back(1);
    std::size_t next_out = 0;
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        queue.push_back(&buffers[i]);
        if (i % 3 != 2) continue;
        ASSERT_EQ(queue.front(), &buffers[next_out++]);
        queue.pop_front();
    }
    for (; !queue.empty(); queue.pop_front()) ASSERT_EQ(queue.front(), &buffers[next_out++]);
    EXPECT_EQ(next_out, buffers.size());
}

TEST(net_buffer_pool, reuses_the_last_buffer_and_deletes_beyond_its_capacity) {
    buffer_pool pool(512);
    std::vector<stream_buffer*> out;
    std::set<stream_buffer*> distinct;
    for (int i = 0; i < 513; ++i) {
        out.push_back(pool.get());
        distinct.insert(out.back());
        EXPECT_EQ(out.back()->capacity(), 2048u);
    }
    EXPECT_EQ(distinct.size(), 513u);
    for (stream_buffer* b : out) pool.put(b);  // the 513th is deleted (a leak otherwise)
    EXPECT_EQ(pool.size(), 512u);
    EXPECT_EQ(pool.get(), out[511]);
    pool.put(out[511]);
}

TEST(net_winsock_counter, never_goes_below_zero) {
    ASSERT_EQ(winsock_count(), 0);
    winsock_acquire();
    winsock_acquire();
    EXPECT_EQ(winsock_count(), 2);
    winsock_release();
    winsock_release();
    winsock_release();
    EXPECT_EQ(winsock_count(), 0);
    winsock_acquire();
    EXPECT_EQ(winsock_count(), 1);
    winsock_release();
}

}  // namespace
