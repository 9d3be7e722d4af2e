#include <orv_quote_api.h>

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

namespace {

// Room for one record, filled with garbage before each construction, so that a constructor
// which leaves a byte alone shows it.
template <class RECORD>
class garbage_slot {
public:
    template <class... ARGS>
    const RECORD* build(ARGS... args) {
        std::memset(m_storage, 0xAA, sizeof m_storage);
        return new (m_storage) RECORD(args...);
    }

private:
    alignas(RECORD) unsigned char m_storage[sizeof(RECORD)];
};

template <std::size_t N>
bool all_zero(const char (&field)[N]) {
    for (char c : field) {
        if (c != '\0') return false;
    }
    return true;
}

}  // namespace

TEST(protocol_records, SymbolInfoIsCutAndZeroFilled) {
    garbage_slot<oqs_symbol_info> slot;

    const oqs_symbol_info* info = slot.build('k', "ag");
    EXPECT_EQ(info->ExchangeCode, 'k');
    EXPECT_EQ(std::string(info->Symbol, sizeof info->Symbol), "ag" + std::string(18, '\0'));

    info = slot.build('k', "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(std::string(info->Symbol, sizeof info->Symbol),
              std::string("ABCDEFGHIJKLMNOPQRS") + '\0');

    info = slot.build('1', static_cast<const char*>(nullptr));
    EXPECT_EQ(info->ExchangeCode, '1');
    EXPECT_TRUE(all_zero(info->Symbol));

    info = slot.build();
    EXPECT_EQ(info->ExchangeCode, '\0');
    EXPECT_TRUE(all_zero(info->Symbol));
}

TEST(protocol_records, DefaultConstructorsEmptyEveryField) {
    garbage_slot<OqsTcpInfo> tcp_slot;
    const OqsTcpInfo* tcp = tcp_slot.build();
    EXPECT_TRUE(all_zero(tcp->Reserved));
    EXPECT_TRUE(all_zero(tcp->ServerIp));
    EXPECT_EQ(tcp->ServerPort, 0);

    garbage_slot<OrvLoginInfo> login_slot;
    const OrvLoginInfo* login = login_slot.build();
    EXPECT_TRUE(all_zero(login->UserId));
    EXPECT_TRUE(all_zero(login->Password));

    garbage_slot<OqsMulticastInfo> multicast_slot;
    const OqsMulticastInfo* multicast = multicast_slot.build();
    EXPECT_TRUE(all_zero(multicast->GroupIp));
    EXPECT_TRUE(all_zero(multicast->InterfaceIp));
    EXPECT_TRUE(all_zero(multicast->SourceIp));
    EXPECT_EQ(multicast->GroupPort, 0);
}
