#pragma once
// The replies the checker shows, and which one answers which outcome. Each message is the last member of the
// reply object, short and without anything JSON would escape.
#include <optional>
#include <string>

#include "service/domain/rules.h"
#include "text/wire_contract.h"

namespace Service {

namespace Replies {
constexpr const char* kSuccess = "提交成功，本账号获得20积分";
constexpr const char* kAccountUsed = "此账号已经提交成功过，每个账号只能成功一次";
constexpr const char* kMachineUsed = "此电脑已经提交成功过，每台电脑只能成功一次";
constexpr const char* kMalformed = "提交的数据格式有误，请使用官方检测程序";
constexpr const char* kTooLarge = "提交的数据过长，请使用官方检测程序";
constexpr const char* kNotRegistered = "此账号尚未注册，请先注册账号";
constexpr const char* kServerError = "服务器忙，请稍后再试";
constexpr const char* kTimeout = "提交超时，请检查网络后重试";
constexpr const char* kEncoding = "不支持压缩的数据，请使用官方检测程序";
constexpr const char* kTooMany = "提交过于频繁，请稍后再试";
constexpr const char* kAddressLimit = "此网络地址今日报名的电脑已达上限，请明天再试";
}  // namespace Replies

// One reply: its HTTP status and its body, built by the wire contract's builder.
struct ReplySpec {
    int status;
    WireContract::ReplyCode code;
    const char* message;
    int points = -1;
    std::string Body() const { return WireContract::BuildReply(code, message, points); }
};

constexpr const char* kJsonType = "application/json; charset=utf-8";

// The reply to a report: its outcome, or nothing when it was not stored (503, nothing acknowledged).
ReplySpec ReplyTo(std::optional<Outcome> outcome);

namespace Refusal {
using WireContract::ReplyCode;
constexpr ReplySpec kMalformed{400, ReplyCode::Malformed, Replies::kMalformed};
constexpr ReplySpec kWrongMethod{405, ReplyCode::Malformed, Replies::kMalformed};
constexpr ReplySpec kTimeout{408, ReplyCode::Unavailable, Replies::kTimeout};
constexpr ReplySpec kTooLarge{413, ReplyCode::Malformed, Replies::kTooLarge};
constexpr ReplySpec kCompressed{415, ReplyCode::Malformed, Replies::kEncoding};
constexpr ReplySpec kTooMany{429, ReplyCode::TooMany, Replies::kTooMany};
constexpr ReplySpec kBusy{503, ReplyCode::Unavailable, Replies::kServerError};
}  // namespace Refusal

}  // namespace Service
