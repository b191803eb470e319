// The machine as the power-scheme library sees it: its power capabilities, the questions
// the scheme setters and the commit ask before changing anything, and the active scheme.
#ifndef PM_PWRMGMT_H
#define PM_PWRMGMT_H

#include <memory>

#include "PMObject.h"
#include "PowerInterface.h"
#include "Win32Api.h"

class PwrMgmt : public PMObject {
 public:
  // Queries the capabilities once; a failure is recorded and the object stays usable. Without
  // an interface, the process's default (DefaultPowerInterface).
  PwrMgmt();
  explicit PwrMgmt(std::shared_ptr<PowerInterface> power);
  // The machine as another PwrMgmt has read its capabilities: asks nothing at construction,
  // and answers from them every question they answer (IsHibernationAllowed included), so that
  // one look at the machine serves a whole update pass.
  PwrMgmt(std::shared_ptr<PowerInterface> power, const SYSTEM_POWER_CAPABILITIES& capabilities);
  ~PwrMgmt() override;
  PwrMgmt(const PwrMgmt&) = delete;
  PwrMgmt& operator=(const PwrMgmt&) = delete;

  // Index of the active power scheme, or 65535 (with a recorded failure) when the platform
  // cannot tell. Asks afresh on every call.
  UINT GetPwrSchemeInUse();
  // The same question for an owner that must not go on without the answer: true (with the
  // same recorded failure) when the platform cannot tell, and *index is then left alone.
  bool QueryPwrSchemeInUse(UINT* index);

  // Always true, consulting nothing: kept because the video setters ask it, as the library's
  // published interface has them do.
  bool IsMonitorSleepSupported() const;
  // Sleep (standby) is there: S3, or S0 low-power idle (Modern Standby), where Windows applies
  // the sleep idle time-out as it does with S3. (Windows XP reports no S0 low-power idle.)
  bool IsPowerSuspendCapable() const;
  // Legacy interface: IsPwrHibernateAllowed. Current interface: the capabilities' S4 and
  // hibernation file. Asked afresh, but for a PwrMgmt made from known capabilities.
  bool IsHibernationAllowed() const;
  bool CanUserWriteScheme() const;

  // The interface and the capabilities read at construction (zeroed when that failed), for a
  // second view of the same machine.
  const std::shared_ptr<PowerInterface>& Interface() const;
  const SYSTEM_POWER_CAPABILITIES& Capabilities() const;

 protected:
  SYSTEM_POWER_CAPABILITIES capabilities;
  std::shared_ptr<PowerInterface> power;
  bool fixed;  // made from known capabilities: answers from them alone
};

#endif
