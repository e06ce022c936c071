#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/remote_action.h"
#include "actions/remote_operation.h"

namespace remote {
namespace {

const Uuid kId = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
const std::string kIdText = "0f8fad5b-d9cb-469f-a165-70867728950e";

std::string upsert_json(const std::string& extra_fields) {
    return R"({"UpsertConnection":{"id":")" + kIdText +
           R"(","name":"Office NAS","host":"10.0.0.20","port":22,"user":"admin","kind":"Ssh","auth":"Password")" +
           extra_fields + "}}";
}

const RemoteAction::UpsertConnection kUpsert{
    kId, "Office NAS", "10.0.0.20", 22, "admin", ConnectionKind::Ssh, AuthMethod::Password, ""};

struct ActionCase {
    std::string payload;
    std::optional<RemoteAction> expected;  // nullopt: must fail with `error`
    std::string error;                     // empty: the JSON library's own wording
};

TEST(DecodeActionTest, FollowsTheWireRules) {
    const std::string id = "\"" + kIdText + "\"";
    RemoteAction::UpsertConnection port_zero = kUpsert;
    port_zero.port = 0;
    const std::vector<ActionCase> cases = {
        {upsert_json(R"(,"group":"")"), kUpsert, ""},
        {upsert_json(""), std::nullopt, "missing field `group`"},
        {upsert_json(R"(,"group":"","favorite":true,"extra":{"deep":[1,2,{}]})"), kUpsert, ""},
        {upsert_json(R"(,"group":"","group":"")"), std::nullopt, "duplicate field `group`"},
        {R"({"SetFavorite":[)" + id + ",false]}", RemoteAction::SetFavorite{kId, false}, ""},
        {R"({"SetFavorite":{"favorite":true,"id":)" + id + "}}",
         RemoteAction::SetFavorite{kId, true}, ""},
        {R"({"SetFavorite":[)" + id + "]}", std::nullopt,
         "invalid length 1, expected struct variant RemoteAction::SetFavorite with 2 elements"},
        {R"({"SetFavorite":[)" + id + ",true,1]}", std::nullopt,
         "invalid length 3, expected struct variant RemoteAction::SetFavorite with 2 elements"},
        {R"({"DeleteConnection":[]})", std::nullopt,
         "invalid length 0, expected struct variant RemoteAction::DeleteConnection with 1 element"},
        {R"({"RenameConnection":[)" + id + "]}", std::nullopt,
         "invalid length 1, expected struct variant RemoteAction::RenameConnection with 2 "
         "elements"},
        {R"({"UpsertConnection":[)" + id + "]}", std::nullopt,
         "invalid length 1, expected struct variant RemoteAction::UpsertConnection with 8 "
         "elements"},
        {R"({"UpsertConnection":[)" + id + R"(,"n","h",0,"u","Vorn","DeviceIdentity","g"]})",
         RemoteAction::UpsertConnection{kId, "n", "h", 0, "u", ConnectionKind::Vorn,
                                        AuthMethod::DeviceIdentity, "g"},
         ""},
        {R"({"RenameConnection":{"id":)" + id + R"(,"name":"a","name":"b"}})", std::nullopt,
         "duplicate field `name`"},
        {R"({"RenameConnection":{"name":"a"}})", std::nullopt, "missing field `id`"},
        {upsert_json(R"(,"group":"")").replace(upsert_json("").find("\"Ssh\""), 5, "\"ssh\""),
         std::nullopt, "unknown variant `ssh`, expected one of `Ssh`, `Vnc`, `Rdp`, `Vorn`"},
        {upsert_json(R"(,"group":"")")
             .replace(upsert_json("").find("\"Password\""), 10, "\"PASSWORD\""),
         std::nullopt,
         "unknown variant `PASSWORD`, expected one of `Password`, `PublicKey`, `DeviceIdentity`"},
        {R"("DeleteConnection")", std::nullopt,
         "invalid type: unit variant, expected struct variant RemoteAction::DeleteConnection"},
        {R"({"Delete":{"id":)" + id + "}}", std::nullopt,
         "unknown variant `Delete`, expected one of `UpsertConnection`, `RenameConnection`, "
         "`SetFavorite`, `DeleteConnection`"},
        // Any standard UUID form reads as the same id.
        {R"({"DeleteConnection":{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E"}})",
         RemoteAction::DeleteConnection{kId}, ""},
        {R"({"DeleteConnection":{"id":"0f8fad5bd9cb469fa16570867728950e"}})",
         RemoteAction::DeleteConnection{kId}, ""},
        {R"({"DeleteConnection":{"id":"0f8fad5b-d9cb-469f-a165-70867728950"}})", std::nullopt, ""},
        {R"({"DeleteConnection":{"id":7}})", std::nullopt, ""},
        {upsert_json(R"(,"group":"")").replace(upsert_json("").find(":22,"), 4, ":65536,"),
         std::nullopt, "invalid value: integer `65536`, expected u16"},
        {upsert_json(R"(,"group":"")").replace(upsert_json("").find(":22,"), 4, ":0,"), port_zero,
         ""},
        {upsert_json(R"(,"group":"")").replace(upsert_json("").find(":22,"), 4, ":-0,"), port_zero,
         ""},
        {upsert_json(R"(,"group":"")").replace(upsert_json("").find(":22,"), 4, ":-1,"),
         std::nullopt, ""},
        {upsert_json(R"(,"group":"")").replace(upsert_json("").find(":22,"), 4, ":22.5,"),
         std::nullopt, ""},
        {R"({"SetFavorite":{"id":)" + id + R"(,"favorite":"yes"}})", std::nullopt, ""},
        // One value, then white space only.
        {R"({"DeleteConnection":{"id":)" + id + "}} \n\t\r ", RemoteAction::DeleteConnection{kId},
         ""},
        {R"({"DeleteConnection":{"id":)" + id + "}} x", std::nullopt, ""},
        {R"({"DeleteConnection":{"id":)" + id + "}}{}", std::nullopt, ""},
        {R"({"DeleteConnection":{"id":)" + id + R"(},"SetFavorite":[)" + id + ",true]}",
         std::nullopt, ""},
        {"{}", std::nullopt, ""},
        {"", std::nullopt, ""},
        {"42", std::nullopt, ""},
        {std::string(500, '[') + std::string(500, ']'), std::nullopt, ""},
    };
    for (const ActionCase& c : cases) {
        SCOPED_TRACE(c.payload);
        auto decoded = decode_action(c.payload);
        if (c.expected) {
            ASSERT_TRUE(decoded.has_value()) << decoded.error();
            EXPECT_EQ(*decoded, *c.expected);
        } else {
            ASSERT_FALSE(decoded.has_value());
            if (c.error.empty()) {
                EXPECT_FALSE(decoded.error().empty());
            } else {
                EXPECT_EQ(decoded.error(), c.error);
            }
        }
    }
}

TEST(DecodeOperationTest, FollowsTheWireRules) {
    const std::string id = "\"" + kIdText + "\"";
    struct Case {
        std::string payload;
        std::optional<RemoteOperation> expected;
        std::string error;
    };
    const std::vector<Case> cases = {
        {R"("ShowConnections")", RemoteOperation::ShowConnections{}, ""},
        {R"({"NewConnectionForm":null})", RemoteOperation::NewConnectionForm{}, ""},
        {R"({"ShowConnections":{}})", std::nullopt, "invalid type: map, expected unit variant"},
        {R"("Connect")", std::nullopt,
         "invalid type: unit variant, expected struct variant RemoteOperation::Connect"},
        {R"({"Connect":{"connection_id":)" + id + "}}", RemoteOperation::Connect{kId}, ""},
        {R"({"Disconnect":[)" + id + "]}", RemoteOperation::Disconnect{kId}, ""},
        {R"({"EditConnection":[]})", std::nullopt,
         "invalid length 0, expected struct variant RemoteOperation::EditConnection with 1 "
         "element"},
        {R"({"Connect":[]})", std::nullopt,
         "invalid length 0, expected struct variant RemoteOperation::Connect with 1 element"},
        {R"({"Disconnect":[1,2]})", std::nullopt,
         "invalid length 2, expected struct variant RemoteOperation::Disconnect with 1 element"},
        {R"({"SendText":[)" + id + "]}", std::nullopt,
         "invalid length 1, expected struct variant RemoteOperation::SendText with 2 elements"},
        {R"({"TrustSshHostKey":[)" + id + "]}", std::nullopt,
         "invalid length 1, expected struct variant RemoteOperation::TrustSshHostKey with 2 "
         "elements"},
        {R"({"ForgetSshHostKey":[]})", std::nullopt,
         "invalid length 0, expected struct variant RemoteOperation::ForgetSshHostKey with 1 "
         "element"},
        {R"({"TrustSshHostKey":{"connection_id":)" + id + R"(,"observed":["ssh-ed25519"]}})",
         std::nullopt, "invalid length 1, expected struct HostKeyIdentity with 2 elements"},
        {R"({"TrustSshHostKey":[)" + id + R"(,["ssh-ed25519","SHA256:abc"]]})",
         RemoteOperation::TrustSshHostKey{kId, {"ssh-ed25519", "SHA256:abc"}}, ""},
        {R"({"TrustSshHostKey":{"connection_id":)" + id +
             R"(,"observed":{"fingerprint":"SHA256:abc"}}})",
         std::nullopt, "missing field `algorithm`"},
        {R"({"SendText":{"text":"ls\n","connection_id":)" + id + "}}",
         RemoteOperation::SendText{kId, "ls\n"}, ""},
        {R"({"SendText":{"connection_id":)" + id + "}}", std::nullopt, "missing field `text`"},
        {R"("ssh")", std::nullopt,
         "unknown variant `ssh`, expected one of `ShowConnections`, `NewConnectionForm`, "
         "`EditConnection`, `Connect`, `Disconnect`, `SendText`, `TrustSshHostKey`, "
         "`ForgetSshHostKey`"},
        {R"({"Connect":{"connection_id":"{0f8fad5b-d9cb-469f-a165-70867728950e}"}})",
         RemoteOperation::Connect{kId}, ""},
        {R"({"Connect":{"connection_id":"urn:uuid:0f8fad5b-d9cb-469f-a165-70867728950e"}})",
         RemoteOperation::Connect{kId}, ""},
        {R"({"Connect":{"connection_id":"connection-1"}})", std::nullopt, ""},
        {R"({"Connect":{"connection_id":)" + id, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        DecodedOperation decoded = decode_operation("remote.operation", c.payload);
        if (c.expected) {
            ASSERT_TRUE(std::holds_alternative<RemoteOperation>(decoded))
                << std::get<OperationDecodeFailure>(decoded).message;
            EXPECT_EQ(std::get<RemoteOperation>(decoded), *c.expected);
        } else {
            ASSERT_TRUE(std::holds_alternative<OperationDecodeFailure>(decoded));
            const std::string& message = std::get<OperationDecodeFailure>(decoded).message;
            if (c.error.empty()) {
                EXPECT_FALSE(message.empty());
            } else {
                EXPECT_EQ(message, c.error);
            }
        }
    }
}

TEST(DecodeOperationTest, OtherActionTypesAreForeignNotErrors) {
    const std::string payload = R"("ShowConnections")";
    for (const char* type : {"remote.action", "remote.operation ", "Remote.operation", ""}) {
        SCOPED_TRACE(type);
        EXPECT_TRUE(std::holds_alternative<ForeignOperation>(decode_operation(type, payload)));
    }
    EXPECT_TRUE(
        std::holds_alternative<ForeignOperation>(decode_operation("remote.action", "not json")));
}

TEST(EncodeTest, WritesCompactTaggedJson) {
    const Uuid upper = *Uuid::parse("0F8FAD5BD9CB469FA16570867728950E");
    EXPECT_EQ(encode_operation(RemoteOperation::ShowConnections{}),
              (vorn_actions::EncodedAction{"remote.operation", "\"ShowConnections\""}));
    EXPECT_EQ(encode_operation(RemoteOperation::ShowConnections{}).payload.size(), 17u);
    EXPECT_EQ(encode_action(RemoteAction::SetFavorite{upper, true}),
              (vorn_actions::EncodedAction{"remote.action", R"({"SetFavorite":{"id":")" + kIdText +
                                                                R"(","favorite":true}})"}));
    EXPECT_EQ(encode_action(kUpsert).payload, upsert_json(R"(,"group":"")"));
    EXPECT_EQ(encode_operation(RemoteOperation::TrustSshHostKey{kId, {"ssh-ed25519", "SHA256:x"}})
                  .payload,
              R"({"TrustSshHostKey":{"connection_id":")" + kIdText +
                  R"(","observed":{"algorithm":"ssh-ed25519","fingerprint":"SHA256:x"}}})");
    EXPECT_EQ(encode_operation(RemoteOperation::SendText{kId, "say \"hi\"\n\u00e9\t"}).payload,
              R"({"SendText":{"connection_id":")" + kIdText + R"(","text":"say \"hi\"\n)" +
                  "\u00e9" + R"(\t"}})");
    // Bytes that are not UTF-8 never stop the encoder.
    EXPECT_EQ(
        encode_action(RemoteAction::RenameConnection{kId, "a\xff"}).payload,
        R"({"RenameConnection":{"id":")" + kIdText + R"(","name":"a)" + "\xef\xbf\xbd" + R"("}})");
    EXPECT_EQ(action_json_value(RemoteAction::DeleteConnection{kId}).begin().key(),
              "DeleteConnection");
}

TEST(EncodeTest, EveryVariantSurvivesARoundTrip) {
    const std::vector<RemoteAction> actions = {
        RemoteAction::UpsertConnection{kId, "Ünïcode \"name\"", "h\\ost", 65535, "",
                                       ConnectionKind::Rdp, AuthMethod::PublicKey, "Group/1"},
        RemoteAction::RenameConnection{kId, ""},
        RemoteAction::SetFavorite{kId, false},
        RemoteAction::DeleteConnection{Uuid{}},
    };
    for (const RemoteAction& action : actions) {
        auto encoded = encode_action(action);
        SCOPED_TRACE(encoded.payload);
        EXPECT_EQ(encoded.action_type, "remote.action");
        auto decoded = decode_action(encoded.payload);
        ASSERT_TRUE(decoded.has_value()) << decoded.error();
        EXPECT_EQ(*decoded, action);
        EXPECT_EQ(action_json_value(action).dump(), encoded.payload);
    }
    const std::vector<RemoteOperation> operations = {
        RemoteOperation::ShowConnections{},
        RemoteOperation::NewConnectionForm{},
        RemoteOperation::EditConnection{kId},
        RemoteOperation::Connect{kId},
        RemoteOperation::Disconnect{kId},
        RemoteOperation::SendText{kId, std::string("a\0b\x1b[A", 6)},
        RemoteOperation::TrustSshHostKey{kId, {"ecdsa-sha2-nistp256", "SHA256:abc+/"}},
        RemoteOperation::ForgetSshHostKey{kId},
    };
    for (const RemoteOperation& operation : operations) {
        auto encoded = encode_operation(operation);
        SCOPED_TRACE(encoded.payload);
        EXPECT_EQ(encoded.action_type, "remote.operation");
        DecodedOperation decoded = decode_operation(encoded.action_type, encoded.payload);
        ASSERT_TRUE(std::holds_alternative<RemoteOperation>(decoded));
        EXPECT_EQ(std::get<RemoteOperation>(decoded), operation);
        EXPECT_EQ(operation_class(operation), operation.value.index() <= 2
                                                  ? vorn_actions::ActionClass::View
                                                  : vorn_actions::ActionClass::Effect);
    }
}

}  // namespace
}  // namespace remote
