#include "service/method_table.h"

#include <array>
#include <utility>

#include "base/api_failure.h"
#include "base/bounded_json.h"
#include "service/records.h"
#include "service/screenshot.h"
#include "service/validation.h"

namespace vardeko {
namespace {

using nlohmann::json;
// Every method answers with the service's reply, passed on as text without its tree
// (HttpTransport::Forward), except the sign-in methods (their token is taken out),
// logout (nothing) and the image (re-encoded for the page).
using Handler = ServiceResult (*)(MethodContext&, json&);

const json& Arg(const json& args, std::size_t index) { return ArgumentAt(args, index); }

ServiceResult Get(MethodContext& c, const std::string& path, bool authenticated = true) {
  return c.transport.Forward(u"GET", path, nullptr, authenticated, kDefaultTimeoutMs);
}
ServiceResult Delete(MethodContext& c, const std::string& path) {
  return c.transport.Forward(u"DELETE", path, nullptr, true, kDefaultTimeoutMs);
}
ServiceResult Post(MethodContext& c, const std::string& path, const json* body,
                   std::int32_t timeoutMs = kDefaultTimeoutMs) {
  return c.transport.Forward(u"POST", path, body, true, timeoutMs);
}
ServiceResult Patch(MethodContext& c, const std::string& path, const json& body) {
  return c.transport.Forward(u"PATCH", path, &body, true, kDefaultTimeoutMs);
}

json LogIn(MethodContext& c, const json& args, const std::string& path) {
  CheckArgumentCount(args, 1, 1);
  const json& credentials = Arg(args, 0);
  CheckCredentials(credentials);
  const std::uint64_t generation = c.session.AdvanceAuthGeneration();
  // The reply's strings are wiped when it goes, on every way out: its token is never
  // freed unwiped, and never part of the result.
  const WipedJson wiped(c.transport.Json(u"POST", path, &credentials, false, kDefaultTimeoutMs));
  const json& reply = wiped.get();
  const auto token = reply.is_object() ? reply.find("token") : reply.end();
  const auto user = reply.is_object() ? reply.find("user") : reply.end();
  if (token == reply.end() || !token->is_string() || user == reply.end() || !user->is_object()) {
    Throw(failures::kInvalidLoginResult);
  }
  SecretString secret(std::string_view{token->get_ref<const std::string&>()});
  if (!IsValidToken(secret.view())) Throw(failures::kInvalidLoginResult);
  c.session.StoreToken(std::move(secret), generation);
  return *user;
}

ServiceResult Health(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 0);
  return Get(c, "/health", false);
}
ServiceResult Login(MethodContext& c, json& args) { return LogIn(c, args, "/auth/login"); }
ServiceResult Register(MethodContext& c, json& args) { return LogIn(c, args, "/auth/register"); }
ServiceResult Me(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 0);
  return Get(c, "/me");
}
ServiceResult Logout(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 0);
  SessionSnapshot snapshot = c.session.BeginLogout();
  if (!snapshot.token.empty()) {
    c.transport.Json(u"POST", "/auth/logout", nullptr, true, kDefaultTimeoutMs, &snapshot);
  }
  c.session.ClearIfCurrent(snapshot);
  snapshot.token.Wipe();
  return nullptr;
}
ServiceResult UploadMatch(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  ScreenshotUpload upload = PrepareScreenshotUpload(args[0]);
  RawRequest request;
  request.verb = u"POST";
  request.path = "/matches";
  request.takeBody = &upload.body;
  request.contentType = upload.contentType;
  request.extraHeaders = upload.extraHeaders;
  request.authenticated = true;
  request.timeoutMs = kLongTimeoutMs;
  request.cap = kJsonReplyCap;
  return ForwardedReply(c.transport.Raw(request).body);
}
ServiceResult ListMatches(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 4);
  std::string path = "/matches?" + PageQuery(Arg(args, 0), Arg(args, 1), kDefaultPageSize);
  const std::string orderId = CheckOptionalRecordId(Arg(args, 2));
  const json& confirmed = Arg(args, 3);
  if (!confirmed.is_null() && !confirmed.is_boolean()) Throw(failures::kInvalidInput);
  if (!orderId.empty()) path += "&order_id=" + UrlEncodeComponent(orderId);
  if (confirmed.is_boolean())
    path += confirmed.get<bool>() ? "&confirmed=true" : "&confirmed=false";
  return Get(c, path);
}
ServiceResult MatchStats(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 1);
  const std::string orderId = CheckOptionalRecordId(Arg(args, 0));
  return Get(c, orderId.empty() ? "/matches/stats"
                                : "/matches/stats?order_id=" + UrlEncodeComponent(orderId));
}
ServiceResult MatchSettings(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 0);
  return Get(c, "/matches/settings");
}
ServiceResult UpdateMatchSettings(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  CheckMatchSettings(Arg(args, 0));
  return Patch(c, "/matches/settings", Arg(args, 0));
}
ServiceResult GetMatch(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  return Get(c, "/matches/" + CheckRecordId(Arg(args, 0)));
}
ServiceResult DeleteMatch(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  return Delete(c, "/matches/" + CheckRecordId(Arg(args, 0)));
}
ServiceResult RecognizeMatch(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  return Post(c, "/matches/" + CheckRecordId(Arg(args, 0)) + "/recognize", nullptr, kLongTimeoutMs);
}
ServiceResult MatchImage(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  const std::string path = "/matches/" + CheckRecordId(Arg(args, 0)) + "/image";
  RawRequest request;
  request.verb = u"GET";
  request.path = path;
  request.authenticated = true;
  request.cap = kMaxImageBytes;
  const HttpResponse response = c.transport.Raw(request);
  const std::string type = response.contentType.empty() ? "image/png" : response.contentType;
  if (!IsScreenshotMediaType(type)) Throw(failures::kServedImageType);
  json image = json::object();
  image["content_type"] = type;
  image["data_base64"] = EncodeBase64(response.body.view());
  return image;
}
ServiceResult UpdateMatch(MethodContext& c, json& args) {
  CheckArgumentCount(args, 2, 2);
  const std::string id = CheckRecordId(Arg(args, 0));
  CheckMatch(Arg(args, 1));
  return Patch(c, "/matches/" + id, Arg(args, 1));
}
ServiceResult ListBosses(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 1);
  const std::string q = Arg(args, 0).is_null() ? std::string() : CheckText(Arg(args, 0), 200);
  return Get(c, "/bosses?q=" + UrlEncodeComponent(q));
}
ServiceResult GetBoss(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  return Get(c, "/bosses/" + CheckRecordId(Arg(args, 0)));
}
ServiceResult CreateBoss(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  CheckBoss(Arg(args, 0));
  return Post(c, "/bosses", &Arg(args, 0));
}
ServiceResult UpdateBoss(MethodContext& c, json& args) {
  CheckArgumentCount(args, 2, 2);
  const std::string id = CheckRecordId(Arg(args, 0));
  CheckBoss(Arg(args, 1));
  return Patch(c, "/bosses/" + id, Arg(args, 1));
}
ServiceResult ListOrders(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 1);
  const std::string bossId = CheckOptionalRecordId(Arg(args, 0));
  return Get(c, bossId.empty() ? "/orders" : "/orders?boss_id=" + UrlEncodeComponent(bossId));
}
ServiceResult GetOrder(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  return Get(c, "/orders/" + CheckRecordId(Arg(args, 0)));
}
ServiceResult CreateOrder(MethodContext& c, json& args) {
  CheckArgumentCount(args, 2, 2);
  const std::string bossId = CheckRecordId(Arg(args, 0));
  CheckOrder(Arg(args, 1), OrderKind::kOrder);
  return Post(c, "/bosses/" + bossId + "/orders", &Arg(args, 1));
}
ServiceResult UpdateOrder(MethodContext& c, json& args) {
  CheckArgumentCount(args, 2, 2);
  const std::string id = CheckRecordId(Arg(args, 0));
  CheckOrder(Arg(args, 1), OrderKind::kOrder);
  return Patch(c, "/orders/" + id, Arg(args, 1));
}
ServiceResult ListOrderTemplates(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 0);
  return Get(c, "/order-templates");
}
ServiceResult CreateOrderTemplate(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  CheckOrder(Arg(args, 0), OrderKind::kTemplate);
  return Post(c, "/order-templates", &Arg(args, 0));
}
ServiceResult UpdateOrderTemplate(MethodContext& c, json& args) {
  CheckArgumentCount(args, 2, 2);
  const std::string id = CheckRecordId(Arg(args, 0));
  CheckOrder(Arg(args, 1), OrderKind::kTemplate);
  return Patch(c, "/order-templates/" + id, Arg(args, 1));
}
ServiceResult DeleteOrderTemplate(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 1);
  return Delete(c, "/order-templates/" + CheckRecordId(Arg(args, 0)));
}
ServiceResult ListCatalog(MethodContext& c, json& args) {
  CheckArgumentCount(args, 0, 1);
  const CatalogQuery query = CheckCatalogFilter(Arg(args, 0));
  return Get(c, "/catalog/items?q=" + UrlEncodeComponent(query.q) +
                    "&category=" + UrlEncodeComponent(query.category) + "&" + query.pageQuery);
}
ServiceResult ListLedgerEntries(MethodContext& c, json& args) {
  CheckArgumentCount(args, 1, 3);
  // The page query is built before the order id is checked.
  const std::string pageQuery = PageQuery(Arg(args, 1), Arg(args, 2), kDefaultPageSize);
  return Get(c, "/orders/" + CheckRecordId(Arg(args, 0)) + "/entries?" + pageQuery);
}
ServiceResult AddLedgerEntry(MethodContext& c, json& args) {
  CheckArgumentCount(args, 2, 2);
  const std::string orderId = CheckRecordId(Arg(args, 0));
  CheckLedgerEntry(Arg(args, 1));
  return Post(c, "/orders/" + orderId + "/entries", &Arg(args, 1));
}
ServiceResult DeleteLedgerEntry(MethodContext& c, json& args) {
  CheckArgumentCount(args, 2, 2);
  // The entry id is checked before the order id.
  const std::string entryId = CheckRecordId(Arg(args, 1));
  const std::string orderId = CheckRecordId(Arg(args, 0));
  return Delete(c, "/orders/" + orderId + "/entries/" + entryId);
}

constexpr std::array<std::pair<std::string_view, Handler>, 31> kMethods = {{
    {"health", &Health},
    {"login", &Login},
    {"register", &Register},
    {"me", &Me},
    {"logout", &Logout},
    {"uploadMatch", &UploadMatch},
    {"listMatches", &ListMatches},
    {"matchStats", &MatchStats},
    {"matchSettings", &MatchSettings},
    {"updateMatchSettings", &UpdateMatchSettings},
    {"getMatch", &GetMatch},
    {"deleteMatch", &DeleteMatch},
    {"recognizeMatch", &RecognizeMatch},
    {"matchImage", &MatchImage},
    {"updateMatch", &UpdateMatch},
    {"listBosses", &ListBosses},
    {"getBoss", &GetBoss},
    {"createBoss", &CreateBoss},
    {"updateBoss", &UpdateBoss},
    {"listOrders", &ListOrders},
    {"getOrder", &GetOrder},
    {"createOrder", &CreateOrder},
    {"updateOrder", &UpdateOrder},
    {"listOrderTemplates", &ListOrderTemplates},
    {"createOrderTemplate", &CreateOrderTemplate},
    {"updateOrderTemplate", &UpdateOrderTemplate},
    {"deleteOrderTemplate", &DeleteOrderTemplate},
    {"listCatalog", &ListCatalog},
    {"listLedgerEntries", &ListLedgerEntries},
    {"addLedgerEntry", &AddLedgerEntry},
    {"deleteLedgerEntry", &DeleteLedgerEntry},
}};

}  // namespace

ServiceResult RunServiceMethod(MethodContext& context, std::string_view method, json& args) {
  for (const auto& [name, handler] : kMethods) {
    if (name == method) return handler(context, args);
  }
  Throw(failures::kInvalidMethod);
}

}  // namespace vardeko
