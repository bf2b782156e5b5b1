#pragma once
// Base of every pipeline element: a name, an owner and free notification.
//
// Ownership in C++ is by value or unique_ptr (the window holds its components
// as members); the owner link only groups components for notification. When a
// component is destroyed it tells every sibling under the same owner and every
// component that asked for free notification, so that non-owning links
// (`Input`) to it are cleared before it goes. All of this runs on the thread
// that creates and destroys components (the UI thread).
//
// A notified output may stop a run that still reads the departing component,
// so the notification must go out while the component is whole: every
// concrete component class calls NotifyRemoval() first in its destructor (the
// base destructor's call is then a no-op).

#include <string>
#include <vector>

namespace lirvo {

enum TOperation { opInsert, opRemove };

class TComponent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& Name) { FName = Name; }

  // Asks to be told (through Notification with opRemove) when AComponent is
  // destroyed. Harmless to call more than once.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

 protected:
  // Called when AComponent is inserted under the same owner or is being
  // removed. Overrides clear their references to a removed component and then
  // call the base version.
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // Subclasses whose destructors must stop threads before their members go
  // call this first; it sends the removal notifications early (idempotent).
  void NotifyRemoval();

 private:
  void Unlink(TComponent* AComponent);

  TComponent* FOwner;
  std::string FName;
  std::vector<TComponent*> FComponents;    // owned-by-me children (non-owning list)
  std::vector<TComponent*> FFreeNotifies;  // components linked to me in either direction
  bool FRemoved = false;
};

}  // namespace lirvo
