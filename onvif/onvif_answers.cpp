#include "onvif/onvif_answers.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace zent::onvif {
namespace {

// No network, no DTD, no entities substituted, no size beyond libxml2's own limits, no messages
// on standard error.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
constexpr std::size_t kMaxNotifications = 1000;

bool Named(const xmlNode* node, const char* local) {
  return node && node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), local) == 0;
}

xmlNode* Child(const xmlNode* parent, const char* local) {
  if (!parent) return nullptr;
  for (xmlNode* c = parent->children; c; c = c->next)
    if (Named(c, local)) return c;
  return nullptr;
}

std::vector<xmlNode*> Children(const xmlNode* parent, const char* local) {
  std::vector<xmlNode*> found;
  if (!parent) return found;
  for (xmlNode* c = parent->children; c; c = c->next)
    if (Named(c, local)) found.push_back(c);
  return found;
}

// Every element below `root` named `local`, in document order; without recursion.
std::vector<xmlNode*> FindAll(const xmlNode* root, const char* local, std::size_t limit = kMaxNotifications) {
  std::vector<xmlNode*> found;
  if (!root) return found;
  const xmlNode* node = root->children;
  while (node && found.size() < limit) {
    if (Named(node, local)) found.push_back(const_cast<xmlNode*>(node));
    if (node->type == XML_ELEMENT_NODE && node->children) {
      node = node->children;
      continue;
    }
    while (node && !node->next && node != root) node = node->parent;
    if (!node || node == root) break;
    node = node->next;
  }
  return found;
}

xmlNode* Find(const xmlNode* root, const char* local) {
  const auto found = FindAll(root, local, 1);
  return found.empty() ? nullptr : found.front();
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// The element's own text: its text and CDATA children only.
std::string Text(const xmlNode* node) {
  std::string text;
  if (!node) return text;
  for (const xmlNode* c = node->children; c; c = c->next)
    if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
      text += reinterpret_cast<const char*>(c->content);
  return Trimmed(text);
}

std::string Attribute(const xmlNode* node, const char* name) {
  if (!node) return {};
  for (const xmlAttr* a = node->properties; a; a = a->next) {
    if (std::strcmp(reinterpret_cast<const char*>(a->name), name) != 0) continue;
    std::string value;
    for (const xmlNode* c = a->children; c; c = c->next)
      if (c->type == XML_TEXT_NODE && c->content) value += reinterpret_cast<const char*>(c->content);
    return value;
  }
  return {};
}

Items SimpleItems(const xmlNode* parent) {
  Items items;
  for (const xmlNode* item : Children(parent, "SimpleItem"))
    items.emplace_back(Attribute(item, "Name"), Attribute(item, "Value"));
  return items;
}

std::optional<int> Number(const xmlNode* node) {
  const std::string text = Text(node);
  int value = 0;
  char tail = 0;
  if (text.empty() || std::sscanf(text.c_str(), "%d%c", &value, &tail) != 1) return std::nullopt;
  return value;
}

std::optional<std::int64_t> Utc(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1970 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 24 ||
      minute < 0 || minute > 59 || second < 0 || second > 60)
    return std::nullopt;
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<std::int64_t>(::timegm(&t));
}

xmlNode* Body(xmlDoc* doc) {
  xmlNode* root = xmlDocGetRootElement(doc);
  return Named(root, "Envelope") ? Child(root, "Body") : nullptr;
}

}  // namespace

bool SoapFault::NotAuthorized() const {
  for (const std::string* text : {&subcode, &code, &reason})
    if (text->find("NotAuthorized") != std::string::npos || text->find("FailedAuthentication") != std::string::npos)
      return true;
  return false;
}

bool SoapFault::UnknownResource() const {
  for (const std::string* text : {&subcode, &code, &reason})
    if (text->find("ResourceUnknown") != std::string::npos || text->find("UnknownSubscription") != std::string::npos)
      return true;
  return false;
}

Answer::Answer(const std::string& text) {
  static std::once_flag initialized;
  std::call_once(initialized, [] { xmlInitParser(); });
  if (text.empty() || text.size() > kMaxAnswerBytes) return;
  xmlDoc* doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, kParseOptions);
  if (!doc) return;
  // SOAP allows no document type declaration: one is refused before anything reads the tree.
  xmlNode* body = doc->intSubset || doc->extSubset ? nullptr : Body(doc);
  if (!body) {
    xmlFreeDoc(doc);
    return;
  }
  doc_ = doc;
  body_ = body;
}

Answer::~Answer() {
  if (doc_) xmlFreeDoc(static_cast<xmlDoc*>(doc_));
}

std::optional<SoapFault> Answer::Fault() const {
  const xmlNode* fault = Child(static_cast<xmlNode*>(body_), "Fault");
  if (!fault) return std::nullopt;
  SoapFault result;
  if (const xmlNode* code = Child(fault, "Code")) {
    result.code = Text(Child(code, "Value"));
    for (const xmlNode* sub = Child(code, "Subcode"); sub; sub = Child(sub, "Subcode"))
      result.subcode = Text(Child(sub, "Value"));
    result.reason = Text(Child(Child(fault, "Reason"), "Text"));
  } else {  // SOAP 1.1
    result.code = Text(Child(fault, "faultcode"));
    result.reason = Text(Child(fault, "faultstring"));
  }
  return result;
}

std::optional<std::int64_t> Answer::SystemTime() const {
  const xmlNode* utc = Find(static_cast<xmlNode*>(body_), "UTCDateTime");
  const xmlNode* date = Child(utc, "Date");
  const xmlNode* time = Child(utc, "Time");
  const auto year = Number(Child(date, "Year")), month = Number(Child(date, "Month")), day = Number(Child(date, "Day"));
  const auto hour = Number(Child(time, "Hour")), minute = Number(Child(time, "Minute"));
  const auto second = Number(Child(time, "Second"));
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  return Utc(*year, *month, *day, *hour, *minute, *second);
}

std::string Answer::ServiceAddress(const std::string& capability, const std::string& namespacePart) const {
  const xmlNode* body = static_cast<xmlNode*>(body_);
  if (const xmlNode* capabilities = Find(body, "Capabilities")) {
    std::string address = Text(Child(Child(capabilities, capability.c_str()), "XAddr"));
    if (!address.empty()) return address;
  }
  for (const xmlNode* service : FindAll(body, "Service"))
    if (Text(Child(service, "Namespace")).find(namespacePart) != std::string::npos)
      return Text(Child(service, "XAddr"));
  return {};
}

std::optional<Subscription> Answer::SubscriptionMade() const {
  const xmlNode* body = static_cast<xmlNode*>(body_);
  const xmlNode* reference = Find(body, "SubscriptionReference");
  if (!reference) return std::nullopt;
  Subscription made;
  made.address = Text(Child(reference, "Address"));
  if (made.address.empty()) return std::nullopt;
  made.currentTime = ParseDateTime(Text(Find(body, "CurrentTime")));
  made.terminationTime = ParseDateTime(Text(Find(body, "TerminationTime")));
  return made;
}

Messages Answer::PulledMessages() const {
  Messages pulled;
  const xmlNode* response = Find(static_cast<xmlNode*>(body_), "PullMessagesResponse");
  if (!response) return pulled;
  pulled.currentTime = ParseDateTime(Text(Child(response, "CurrentTime")));
  pulled.terminationTime = ParseDateTime(Text(Child(response, "TerminationTime")));
  for (const xmlNode* message : Children(response, "NotificationMessage")) {
    if (pulled.notifications.size() >= kMaxNotifications) break;
    Notification n;
    n.topic = Text(Child(message, "Topic"));
    const xmlNode* inner = Child(Child(message, "Message"), "Message");
    n.operation = Attribute(inner, "PropertyOperation");
    n.source = SimpleItems(Child(inner, "Source"));
    n.data = SimpleItems(Child(inner, "Data"));
    pulled.notifications.push_back(std::move(n));
  }
  return pulled;
}

std::optional<Subscription> Answer::Renewed() const {
  const xmlNode* response = Find(static_cast<xmlNode*>(body_), "RenewResponse");
  if (!response) return std::nullopt;
  Subscription renewed;
  renewed.currentTime = ParseDateTime(Text(Child(response, "CurrentTime")));
  renewed.terminationTime = ParseDateTime(Text(Child(response, "TerminationTime")));
  return renewed;
}

std::vector<std::string> Answer::ProfileTokens() const {
  std::vector<std::string> tokens;
  for (const xmlNode* profile : FindAll(static_cast<xmlNode*>(body_), "Profiles")) {
    std::string token = Attribute(profile, "token");
    if (!token.empty()) tokens.push_back(std::move(token));
  }
  return tokens;
}

std::string Answer::StreamUri() const {
  const xmlNode* body = static_cast<xmlNode*>(body_);
  const xmlNode* media = Find(body, "MediaUri");
  return Text(media ? Child(media, "Uri") : Find(body, "Uri"));
}

std::optional<std::int64_t> ParseDateTime(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, consumed = 0;
  double second = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%lf%n", &year, &month, &day, &hour, &minute, &second, &consumed) !=
      6)
    return std::nullopt;
  // Seconds as the camera wrote them may be anything a double reads: only 0 to 60 are a time.
  if (!(second >= 0 && second < 61)) return std::nullopt;
  auto utc = Utc(year, month, day, hour, minute, static_cast<int>(second));
  if (!utc) return std::nullopt;
  const char* zone = text.c_str() + consumed;
  if (*zone == '+' || *zone == '-') {
    int zoneHours = 0, zoneMinutes = 0;
    if (std::sscanf(zone + 1, "%2d:%2d", &zoneHours, &zoneMinutes) != 2) return std::nullopt;
    const std::int64_t offset = zoneHours * 3600 + zoneMinutes * 60;
    *utc += *zone == '+' ? -offset : offset;
  } else if (*zone != 'Z' && *zone != '\0') {
    return std::nullopt;
  }
  return utc;
}

std::optional<std::int64_t> ParseDurationSeconds(const std::string& text) {
  if (text.size() < 3 || text[0] != 'P') return std::nullopt;
  std::int64_t total = 0;
  bool inTime = false, any = false;
  for (std::size_t i = 1; i < text.size();) {
    if (text[i] == 'T') {
      inTime = true;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) ++end;
    if (end == i || end >= text.size() || end - i > 9) return std::nullopt;
    const double value = std::atof(text.substr(i, end - i).c_str());
    const char unit = text[end];
    if (!inTime && unit == 'D') total += static_cast<std::int64_t>(value * 86400);
    else if (inTime && unit == 'H') total += static_cast<std::int64_t>(value * 3600);
    else if (inTime && unit == 'M') total += static_cast<std::int64_t>(value * 60);
    else if (inTime && unit == 'S') total += static_cast<std::int64_t>(value);
    else return std::nullopt;
    any = true;
    i = end + 1;
  }
  return any ? std::optional<std::int64_t>(total) : std::nullopt;
}

}  // namespace zent::onvif
