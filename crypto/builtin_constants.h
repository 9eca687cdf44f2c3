#pragma once
// Constants compiled into every program of the product that must agree with
// this one: changing either makes lock-file names, machine identifiers and
// encrypted task files of other programs unreadable to this one.

namespace kelvomar {

// HMAC-SHA256 key of the keyed hash (lock-file names, machine identifier):
// 93 decimal digits.
inline constexpr char kKeyedHashKey[] =
    "728794031120583640618238891007627991467184677772383694134194631271124416643770049859227869283";

// Counter-mode constant: its first two bytes begin every Kuznyechik counter block.
inline constexpr char kCounterConstant[] = "u7Vxlxb9DjfwMo9";

static_assert(sizeof(kKeyedHashKey) == 94, "the keyed-hash key has 93 digits");
static_assert(sizeof(kCounterConstant) == 16, "the counter constant has 15 characters");

}  // namespace kelvomar
