#include "import/OrderedStores.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "app/Text.h"

namespace photoimport {
namespace {

std::string ComparedCardNumber(const std::string& cardNumber) {
  std::string compared = app::Trim(cardNumber);
  for (char& c : compared) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return compared;
}

bool StoresInParallel(data::SqlDialect dialect) {
  return dialect == data::SqlDialect::Postgres || dialect == data::SqlDialect::SqlServer;
}

}  // namespace

std::vector<std::unique_ptr<data::Session>> MoreStoreConnections(data::Session& session, int wanted) {
  std::vector<std::unique_ptr<data::Session>> more;
  if (!StoresInParallel(session.dialect())) return more;
  for (int i = 1; i < wanted; ++i) {
    auto another = std::make_unique<data::Session>();
    try {
      another->ConnectLike(session);
    } catch (const std::exception&) {
      break;
    }
    more.push_back(std::move(another));
  }
  return more;
}

OrderedStores::OrderedStores(data::Session& session, const StoreAction& action,
                             std::vector<std::unique_ptr<data::Session>> more)
    : more_(std::move(more)) {
  workers_.push_back(std::make_unique<PhotoStoreWorker>(session, action));
  for (const auto& another : more_) workers_.push_back(std::make_unique<PhotoStoreWorker>(*another, action));
}

bool OrderedStores::CanStart(const std::string& cardNumber) const {
  if (inFlight_.size() == workers_.size()) return false;
  const std::string compared = ComparedCardNumber(cardNumber);
  return std::none_of(inFlight_.begin(), inFlight_.end(),
                      [&](const InFlight& store) { return store.cardNumber == compared; });
}

void OrderedStores::Start(const std::string& cardNumber, imaging::MemoryStream& photo, data::PhotoGuard guard) {
  std::size_t free = 0;
  while (std::any_of(inFlight_.begin(), inFlight_.end(), [&](const InFlight& store) { return store.worker == free; }))
    ++free;
  workers_[free]->Store(cardNumber, photo, guard);
  inFlight_.push_back({free, ComparedCardNumber(cardNumber)});
}

std::optional<data::StoreResult> OrderedStores::WaitForOldest(std::chrono::milliseconds longest) {
  std::optional<data::StoreResult> result = workers_[inFlight_.front().worker]->WaitFor(longest);
  if (result) inFlight_.pop_front();
  return result;
}

void OrderedStores::CancelAll() {
  for (const InFlight& store : inFlight_) workers_[store.worker]->Cancel();
}

}  // namespace photoimport
