#include "service/domain/replies.h"

namespace Service {

ReplySpec ReplyTo(std::optional<Outcome> outcome) {
    using WireContract::ReplyCode;
    if (!outcome) return Refusal::kBusy;
    switch (*outcome) {
    case Outcome::Success: return {200, ReplyCode::Success, Replies::kSuccess, kRewardPoints};
    case Outcome::AccountUsed: return {200, ReplyCode::AccountUsed, Replies::kAccountUsed};
    case Outcome::MachineUsed: return {200, ReplyCode::MachineUsed, Replies::kMachineUsed};
    case Outcome::NotRegistered: return {200, ReplyCode::NotRegistered, Replies::kNotRegistered};
    case Outcome::AddressLimit: return {200, ReplyCode::AddressLimit, Replies::kAddressLimit};
    }
    return Refusal::kBusy;
}

}  // namespace Service
