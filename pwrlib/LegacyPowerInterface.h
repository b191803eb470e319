// The power schemes through the legacy power-profile functions, the only ones Windows 2000 and
// XP have: each question and each step is one call, as the library has always made them.
#ifndef PM_LEGACYPOWERINTERFACE_H
#define PM_LEGACYPOWERINTERFACE_H

#include "PowerInterface.h"

class LegacyPowerInterface : public PowerInterface {
 public:
  bool GetActiveScheme(UINT* index) override;
  bool IsHibernateAllowed() override;
  bool CanUserWriteScheme() override;
  bool ReadScheme(UINT index, POWER_POLICY* policy) override;
  CommitResult WriteAndActivate(UINT* index, POWER_POLICY* policy) override;

  bool KeepsHibernationTotal() const override { return false; }
  bool HasMachineStandby() const override { return true; }
  bool HasPerUserCopy() const override { return true; }
  const char* Name() const override { return "legacy"; }
};

#endif
