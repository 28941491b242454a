#pragma once

#include <string>

#include <nlohmann/json.hpp>

// The records the page sends as request bodies (or, for the catalog filter, as a
// query). Each check runs the object check, then its members in a fixed order; the
// first failure raises ApiFailure (INVALID_INPUT) and the value is never changed.
namespace vardeko {

void CheckCredentials(const nlohmann::json& record);
void CheckMatchSettings(const nlohmann::json& record);
void CheckBoss(const nlohmann::json& record);

enum class OrderKind { kOrder, kTemplate };
// The order record; a template has one more member, "name", checked last.
void CheckOrder(const nlohmann::json& record, OrderKind kind);

void CheckMatch(const nlohmann::json& record);
void CheckLedgerEntry(const nlohmann::json& record);

// The catalog filter as a query: q and category (URL-encoded by the caller), and the
// page query. Null stands for an empty filter; unknown members are ignored.
struct CatalogQuery {
  std::string q;
  std::string category;
  std::string pageQuery;
};
CatalogQuery CheckCatalogFilter(const nlohmann::json& filter);

}  // namespace vardeko
