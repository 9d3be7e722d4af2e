// Internal to quote_bridge: its connection to Redis, over hiredis's blocking context. It opens
// with a bound on every step (connect, log in, a PING that proves the server answers), sends a
// block of commands already in the protocol's form, and reads their replies one at a time.
// One thread at a time: the main thread opens the first link, the publishing thread owns it
// from then on. It owns the context; a link that broke is closed and must be opened again.
#pragma once

#include <string>

struct redisContext;

struct redis_login {
    std::string host;
    int port = 0;
    std::string user;      // empty: the default user
    std::string password;  // empty: no AUTH
};

class redis_link {
public:
    // Bounds: a connect, and any one read or write once connected. A Redis that holds a reply
    // longer than the latter counts as gone.
    static constexpr int connect_timeout_ms = 1000;
    static constexpr int io_timeout_ms = 3000;

    redis_link() = default;
    ~redis_link() { close(); }
    redis_link(redis_link&& other) noexcept;
    redis_link& operator=(redis_link&& other) noexcept;
    redis_link(const redis_link&) = delete;
    redis_link& operator=(const redis_link&) = delete;

    // Connects, logs in when there is a password, and PINGs; false with error() set.
    bool open(const redis_login& login);
    void close();
    bool is_open() const { return m_context != nullptr; }

    // Queues commands in the protocol's form; they leave with the next read.
    bool send(const std::string& commands);

    enum class reply { ok, refused, broken };
    // Reads the next reply: ok, refused (an error reply; `text` says it) or broken (the link
    // is closed and error() says why).
    reply read(std::string* text);

    const std::string& error() const { return m_error; }

private:
    bool fail(const std::string& what);
    reply command(const char* const* argv, int argc, std::string* text);

    redisContext* m_context = nullptr;
    std::string m_error;
};
