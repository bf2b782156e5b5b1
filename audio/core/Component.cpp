#include "audio/core/Component.h"

#include <algorithm>

namespace lirvo {

namespace {
void EraseValue(std::vector<TComponent*>& v, TComponent* c) {
  v.erase(std::remove(v.begin(), v.end(), c), v.end());
}
}  // namespace

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) {
    for (TComponent* sibling : FOwner->FComponents)
      sibling->Notification(this, opInsert);
    FOwner->FComponents.push_back(this);
  }
}

TComponent::~TComponent() {
  NotifyRemoval();
}

void TComponent::NotifyRemoval() {
  if (FRemoved) return;
  FRemoved = true;
  if (FOwner) {
    EraseValue(FOwner->FComponents, this);
    // Copy: a notification may unlink further components.
    std::vector<TComponent*> siblings = FOwner->FComponents;
    for (TComponent* sibling : siblings)
      sibling->Notification(this, opRemove);
    FOwner->Notification(this, opRemove);
  }
  std::vector<TComponent*> linked = FFreeNotifies;
  for (TComponent* c : linked) {
    c->Notification(this, opRemove);
    c->Unlink(this);
  }
  FFreeNotifies.clear();
  // Children outlive their owner only by mistake; cut their back link.
  for (TComponent* child : FComponents)
    child->FOwner = nullptr;
  FComponents.clear();
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
      AComponent->FFreeNotifies.end())
    AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  Unlink(AComponent);
  AComponent->Unlink(this);
}

void TComponent::Unlink(TComponent* AComponent) {
  EraseValue(FFreeNotifies, AComponent);
}

void TComponent::Notification(TComponent*, TOperation) {}

}  // namespace lirvo
