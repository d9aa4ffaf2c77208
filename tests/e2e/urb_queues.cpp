#include "tests/e2e/urb_queues.h"

#include <set>
#include <utility>

#include "driver/usb/transfer_record.h"

namespace torva::e2e {
namespace {

// Writes the outcome into the URB, as the client will read it once it has reaped the URB.
void SetOutcome(Urb& urb, int status, std::size_t actualLength) {
  usbdevfs_urb& fields = urb.Fields();
  fields.status = status;
  fields.actual_length = static_cast<int>(actualLength);
}

}  // namespace

void UrbQueues::Complete(Client client, Urb urb, int status, std::size_t actualLength) {
  SetOutcome(urb, status, actualLength);
  Of(client).completed.push_back(std::move(urb));
  fifo_.SetReady(true);
}

void UrbQueues::AddPending(Client client, Urb urb) {
  Of(client).pending.push_back(std::move(urb));
}

std::optional<SteadyTime> UrbQueues::Service(const Responder& respond, bool controlToo) {
  std::optional<SteadyTime> earliest;
  for (auto& [client, urbs] : clients_) {
    std::set<unsigned char> waitingEndpoints;
    for (auto it = urbs.pending.begin(); it != urbs.pending.end();) {
      const bool control = it->IsControl();
      const unsigned char endpoint = it->Fields().endpoint;
      if ((control && !controlToo) || (!control && waitingEndpoints.count(endpoint) != 0)) {
        ++it;
        continue;
      }
      std::optional<SteadyTime> readyAt;
      const std::optional<Answer> answer = respond(*it, readyAt);
      if (!answer) {
        if (!control) waitingEndpoints.insert(endpoint);
        if (readyAt && (!earliest || *readyAt < *earliest)) earliest = readyAt;
        ++it;
        continue;
      }
      SetOutcome(*it, answer->status, answer->actualLength);
      urbs.completed.push_back(std::move(*it));
      it = urbs.pending.erase(it);
    }
  }
  UpdateReady();
  return earliest;
}

void UrbQueues::CompleteAllPending(int status) {
  for (auto& [client, urbs] : clients_) {
    for (Urb& urb : urbs.pending) {
      SetOutcome(urb, status, 0);
      urbs.completed.push_back(std::move(urb));
    }
    urbs.pending.clear();
  }
  UpdateReady();
}

bool UrbQueues::Discard(Client client, gulong address) {
  const auto found = clients_.find(client);
  if (found == clients_.end()) return false;
  auto& pending = found->second.pending;
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (it->ClientAddress() != address) continue;
    Urb urb = std::move(*it);
    pending.erase(it);
    Complete(client, std::move(urb), kUrbCancelled, 0);
    return true;
  }
  return false;
}

std::optional<Urb> UrbQueues::Reap(Client client) {
  const auto found = clients_.find(client);
  if (found == clients_.end() || found->second.completed.empty()) return std::nullopt;
  Urb urb = std::move(found->second.completed.front());
  found->second.completed.pop_front();
  UpdateReady();
  return urb;
}

void UrbQueues::Track(Client client) { Of(client); }

void UrbQueues::ForgetClosed() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (umockdev_ioctl_client_get_connected(it->first)) {
      ++it;
      continue;
    }
    if (claimedBy_ == it->first) claimedBy_ = nullptr;
    it = clients_.erase(it);
  }
  UpdateReady();
}

int UrbQueues::OpenClients() const {
  int open = 0;
  for (const auto& [client, urbs] : clients_) {
    if (umockdev_ioctl_client_get_connected(client)) ++open;
  }
  return open;
}

UrbQueues::ClientUrbs& UrbQueues::Of(Client client) {
  ClientUrbs& urbs = clients_[client];
  if (!urbs.client) urbs.client = GObjectRef<UMockdevIoctlClient>::Share(client);
  return urbs;
}

bool UrbQueues::Claim(Client client) {
  if (claimedBy_ != nullptr && claimedBy_ != client) return false;
  claimedBy_ = client;
  return true;
}

bool UrbQueues::Release(Client client) {
  if (claimedBy_ != client) return false;
  claimedBy_ = nullptr;
  return true;
}

int UrbQueues::PendingBulkReads() const {
  int count = 0;
  for (const auto& [client, urbs] : clients_) {
    for (const Urb& urb : urbs.pending) {
      if (!urb.IsControl() && usb::IsInEndpoint(urb.Fields().endpoint)) ++count;
    }
  }
  return count;
}

void UrbQueues::UpdateReady() {
  bool ready = false;
  for (const auto& [client, urbs] : clients_) ready = ready || !urbs.completed.empty();
  fifo_.SetReady(ready);
}

}  // namespace torva::e2e
