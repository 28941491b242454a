#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vardeko::testing {

// Replies of the costliest kinds the JSON bounds let through, `bodyBytes` long with at
// most `values` values (at full size: the JSON reply cap and kMaxJsonValues). Each holds
// as many values as it may, each as dear as a value gets, and a long string takes what
// room is left (the parser's buffer for a string grows to twice its length).
struct HostileReply {
  std::string name;
  std::string body;
  bool decoded = true;  // within the bounds; else refused as unreadable
};

inline std::vector<HostileReply> HostileReplies(std::size_t bodyBytes, std::size_t values) {
  std::vector<HostileReply> replies;
  // An object with a member for each value: a tree node with its name, and an empty
  // object of its own.
  {
    std::string body = "{";
    body.reserve(bodyBytes);
    char member[24];
    for (std::size_t i = 0; i + 2 < values; ++i) {
      std::snprintf(member, sizeof member, "\"k%07zx\":{},", i);
      body += member;
    }
    const std::size_t room = bodyBytes - body.size() - 7;
    body.append("\"s\":\"").append(room, 'x').append("\"}");
    replies.push_back({"object members of empty objects", std::move(body), true});
  }
  // An array of empty objects.
  {
    std::string body = "[";
    body.reserve(bodyBytes);
    for (std::size_t i = 0; i + 2 < values; ++i) body += "{},";
    const std::size_t room = bodyBytes - body.size() - 3;
    body.append("\"").append(room, 'x').append("\"]");
    replies.push_back({"array of empty objects", std::move(body), true});
  }
  // One string as long as the body may be.
  std::string text;
  text.reserve(bodyBytes);
  text.append("\"").append(bodyBytes - 2, 'x').append("\"");
  replies.push_back({"one long string", std::move(text), true});
  return replies;
}

// Small numbers as far as the body goes, "[1,1,...]": refused once past the value bound
// (at the reply cap, 16 times the bound).
inline HostileReply OnesPastTheValueBound(std::size_t bodyBytes) {
  std::string body = "[1";
  body.reserve(bodyBytes);
  while (body.size() + 3 < bodyBytes) body += ",1";
  body += "]";
  return {"array of ones past the value bound", std::move(body), false};
}

}  // namespace vardeko::testing
