// Connection ids and device endpoint ids: generation, printing and every accepted and refused
// textual form.

#include <gtest/gtest.h>

#include <set>

#include "profiles/uuid.h"
#include "vorn/ui/endpoint_id.h"

namespace {

using remote::Uuid;
using vorn_ui::fabric::EndpointId;

TEST(Uuid, RandomIsVersion4VariantOneAndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 200; ++i) {
        const Uuid id = Uuid::random();
        EXPECT_EQ(id.bytes()[6] >> 4, 4);
        EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
        const std::string text = id.to_string();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4');
        EXPECT_EQ(Uuid::parse(text), id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Uuid, PrintsLowerCaseHyphenated) {
    Uuid::Bytes b{};
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(0xA0 + i * 3);
    EXPECT_EQ(Uuid(b).to_string(), "a0a3a6a9-acaf-b2b5-b8bb-bec1c4c7cacd");
    EXPECT_EQ(Uuid().to_string(), "00000000-0000-0000-0000-000000000000");
}

TEST(Uuid, ParsesStandardFormsAndRefusesOthers) {
    const std::string canonical = "6ba7b810-9dad-41d1-80b4-00c04fd430c8";
    struct Case {
        std::string text;
        bool accepted;
    };
    const Case cases[] = {
        {canonical, true},
        {"6BA7B810-9DAD-41D1-80B4-00C04FD430C8", true},
        {"6ba7b8109dad41d180b400c04fd430c8", true},
        {"{6ba7b810-9dad-41d1-80b4-00c04fd430c8}", true},
        {"{6ba7b8109dad41d180b400c04fd430c8}", true},
        {"urn:uuid:6ba7b810-9dad-41d1-80b4-00c04fd430c8", true},
        {"URN:UUID:6BA7B810-9DAD-41D1-80B4-00C04FD430C8", true},
        {"", false},
        {"6ba7b810-9dad-41d1-80b4-00c04fd430c", false},    // one digit short
        {"6ba7b810-9dad-41d1-80b4-00c04fd430c8a", false},  // one digit long
        {"6ba7b8109-dad-41d1-80b4-00c04fd430c8", false},   // hyphen misplaced
        {"6ba7b810-9dad-41d1-80b4-00c04fd430cg", false},   // not hex
        {" 6ba7b810-9dad-41d1-80b4-00c04fd430c8", false},  // white space
        {"{6ba7b810-9dad-41d1-80b4-00c04fd430c8", false},  // unbalanced brace
        {"6ba7b810-9dad-41d1-80b4-00c04fd430c8}", false},
        {"urn:uuid:6ba7b8109dad41d180b400c04fd430c8", false},
        {"urn:uuid:{6ba7b810-9dad-41d1-80b4-00c04fd430c8}", false},
        {"6ba7b810-9dad-41d1-80b4+00c04fd430c8", false},
        {"6ba7b810 9dad 41d1 80b4 00c04fd430c8", false},
    };
    for (const Case& c : cases) {
        const auto parsed = Uuid::parse(c.text);
        EXPECT_EQ(parsed.has_value(), c.accepted) << c.text;
        if (parsed && c.accepted) {
            EXPECT_EQ(parsed->to_string(), canonical) << c.text;
        }
    }
}

TEST(Uuid, OrdersAndHashesByBytes) {
    const Uuid a = *Uuid::parse("00000000-0000-0000-0000-000000000001");
    const Uuid b = *Uuid::parse("00000000-0000-0000-0000-000000000002");
    const Uuid c = *Uuid::parse("10000000-0000-0000-0000-000000000000");
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_NE(std::hash<Uuid>{}(a), std::hash<Uuid>{}(b));
    EXPECT_EQ(std::hash<Uuid>{}(a), std::hash<Uuid>{}(*Uuid::parse(a.to_string())));
}

// RFC 8032, test 1.
constexpr char kSeedHex[] = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr char kPublicHex[] = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

EndpointId::Bytes bytes_from_hex(std::string_view hex) {
    EndpointId::Bytes out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] =
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    }
    return out;
}

TEST(EndpointId, DerivesPublicKeyFromSeed) {
    const EndpointId id = vorn_ui::fabric::endpoint_from_seed(bytes_from_hex(kSeedHex));
    EXPECT_EQ(id.to_string(), kPublicHex);
    EXPECT_EQ(id.bytes(), bytes_from_hex(kPublicHex));
}

TEST(EndpointId, ParsesEitherCaseAndPrintsLowerCase) {
    std::string upper = kPublicHex;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto parsed = vorn_ui::fabric::parse_endpoint_id(upper);
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    EXPECT_EQ(parsed->to_string(), kPublicHex);
}

TEST(EndpointId, RefusesAnythingButA64DigitCurvePoint) {
    const std::string good = kPublicHex;
    const std::string cases[] = {
        "",
        good.substr(0, 63),
        good + "0",
        std::string(" ").append(good, 1),
        good.substr(0, 63) + "g",
        good.substr(0, 62) + "\n",
        // y = 2 has no x on the curve.
        "02" "000000000000000000000000000000"
        "00000000000000000000000000000000",
        // On the curve but of small order: the identity (y = 1) and y = 0 (order 4).
        "01" "000000000000000000000000000000"
        "00000000000000000000000000000000",
        std::string(64, '0'),
        // y = p is a non-canonical encoding of y = 0.
        "ed" "ffffffffffffffffffffffffffffff"
        "ffffffffffffffffffffffffffffff7f",
    };
    for (const std::string& text : cases) {
        const auto parsed = vorn_ui::fabric::parse_endpoint_id(text);
        EXPECT_FALSE(parsed.has_value()) << text;
        if (!parsed) {
            EXPECT_FALSE(parsed.error().empty());
        }
    }
    EXPECT_TRUE(vorn_ui::fabric::parse_endpoint_id(good).has_value());
}

}  // namespace
