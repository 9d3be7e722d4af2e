#include "redis_link.h"

#include <hiredis/hiredis.h>

#include <utility>

namespace {

timeval to_timeval(int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

}  // namespace

redis_link::redis_link(redis_link&& other) noexcept
    : m_context(std::exchange(other.m_context, nullptr)), m_error(std::move(other.m_error)) {}

redis_link& redis_link::operator=(redis_link&& other) noexcept {
    if (this != &other) {
        close();
        m_context = std::exchange(other.m_context, nullptr);
        m_error = std::move(other.m_error);
    }
    return *this;
}

void redis_link::close() {
    if (m_context != nullptr) redisFree(m_context);
    m_context = nullptr;
}

bool redis_link::fail(const std::string& what) {
    m_error = what;
    if (m_context != nullptr && m_context->err != 0)
        m_error += std::string(": ") + m_context->errstr;
    close();
    return false;
}

bool redis_link::open(const redis_login& login) {
    close();
    m_error.clear();
    m_context =
        redisConnectWithTimeout(login.host.c_str(), login.port, to_timeval(connect_timeout_ms));
    if (m_context == nullptr) return fail("out of memory");
    if (m_context->err != 0) return fail("cannot connect");
    if (redisSetTimeout(m_context, to_timeval(io_timeout_ms)) != REDIS_OK) {
        return fail("cannot set the timeout");
    }
    redisEnableKeepAlive(m_context);
    std::string text;
    if (!login.password.empty()) {
        const char* with_user[] = {"AUTH", login.user.c_str(), login.password.c_str()};
        const char* without[] = {"AUTH", login.password.c_str()};
        const reply r =
            login.user.empty() ? command(without, 2, &text) : command(with_user, 3, &text);
        if (r == reply::broken) return false;
        if (r == reply::refused) return fail("refused the login: " + text);
    }
    const char* ping[] = {"PING"};
    const reply r = command(ping, 1, &text);
    if (r == reply::refused) return fail("refused PING: " + text);
    return r == reply::ok;
}

redis_link::reply redis_link::command(const char* const* argv, int argc, std::string* text) {
    if (redisAppendCommandArgv(m_context, argc, const_cast<const char**>(argv), nullptr) !=
        REDIS_OK) {
        fail("cannot send");
        return reply::broken;
    }
    return read(text);
}

bool redis_link::send(const std::string& commands) {
    if (m_context == nullptr) return false;
    if (redisAppendFormattedCommand(m_context, commands.data(), commands.size()) == REDIS_OK) {
        return true;
    }
    return fail("cannot send");
}

redis_link::reply redis_link::read(std::string* text) {
    if (m_context == nullptr) return reply::broken;
    void* raw = nullptr;
    if (redisGetReply(m_context, &raw) != REDIS_OK || raw == nullptr) {
        fail("connection lost");
        return reply::broken;
    }
    redisReply* r = static_cast<redisReply*>(raw);
    const bool refused = r->type == REDIS_REPLY_ERROR;
    if (text != nullptr) {
        text->assign(r->str != nullptr ? r->str : "", r->str != nullptr ? r->len : 0);
    }
    freeReplyObject(r);
    return refused ? reply::refused : reply::ok;
}
