#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "HostSchemeStore.h"
#include "SchemeProbe.h"

namespace {

const std::string kSuffix = "->System Error: ";

class PwrSchemeTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    scheme_store::Seed(0, scheme_store::DistinctPolicy());
    scheme_store::SetActive(0);
  }
  // Stores p as scheme 0, the scheme the tests read.
  static void Store(const POWER_POLICY& p) { scheme_store::Seed(0, p); }
  static void SetS3(BOOLEAN s3) {
    SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
    caps.SystemS3 = s3;
    host::SetCapabilities(caps);
  }
  static void SetHibernation(bool allowed) {
    SYSTEM_POWER_CAPABILITIES caps = host::DefaultCapabilities();
    caps.SystemS4 = allowed ? 1 : 0;
    caps.HiberFilePresent = allowed ? 1 : 0;
    host::SetCapabilities(caps);
  }
};

TEST_F(PwrSchemeTest, ReadsTheSchemeAtConstruction) {
  SchemeProbe scheme(0);
  EXPECT_TRUE(scheme.IsRead());
  EXPECT_EQ(scheme.GetErrorText(), "");
  EXPECT_EQ(scheme.Index(), 0u);
  EXPECT_EQ(scheme.PolicyBytes(), scheme_store::BytesOf(scheme_store::DistinctPolicy()));
  EXPECT_FALSE(scheme.Bypass());
  EXPECT_FALSE(scheme.Force());
}

TEST_F(PwrSchemeTest, FailedReadZeroesTheRecordAndKeepsTheIndex) {
  const std::vector<uint8_t> zero(sizeof(POWER_POLICY), 0);
  SchemeProbe missing(7);
  EXPECT_FALSE(missing.IsRead());
  EXPECT_EQ(missing.Index(), 7u);
  EXPECT_EQ(missing.GetErrorText(), "PwrScheme initialiaze()" + kSuffix);
  EXPECT_EQ(missing.PolicyBytes(), zero);

  // A failed re-read also forgets the scheme read before.
  SchemeProbe scheme(0);
  EXPECT_TRUE(scheme.initialiaze(7));
  EXPECT_FALSE(scheme.IsRead());
  EXPECT_EQ(scheme.PolicyBytes(), zero);
  EXPECT_FALSE(scheme.initialiaze(0));
  EXPECT_TRUE(scheme.IsRead());
  EXPECT_EQ(scheme.Index(), 0u);
  // The failure text stays after the successful read.
  EXPECT_EQ(scheme.GetErrorText(), "PwrScheme initialiaze()" + kSuffix);

  host::FailCall(host::gated::ReadPwrScheme, 1, ERROR_GEN_FAILURE);
  EXPECT_TRUE(scheme.initialiaze(0));
  EXPECT_EQ(scheme.PolicyBytes(), zero);
}

TEST_F(PwrSchemeTest, DefaultConstructionReadsNothing) {
  SchemeProbe scheme;
  EXPECT_EQ(host::CallCount(host::gated::ReadPwrScheme), 0u);
  EXPECT_FALSE(scheme.IsRead());
  EXPECT_EQ(scheme.GetErrorText(), "");
  EXPECT_EQ(scheme.PolicyBytes(), std::vector<uint8_t>(sizeof(POWER_POLICY), 0));
  EXPECT_FALSE(scheme.initialiaze(0));
  EXPECT_TRUE(scheme.IsRead());
}

TEST_F(PwrSchemeTest, InitialiazeDiscardsUncommittedChanges) {
  SchemeProbe scheme(0);
  scheme.SetUserAcVideoTimeOut(99);
  EXPECT_EQ(scheme.GetUserAcVideoTimeOut(), 99u);
  EXPECT_FALSE(scheme.initialiaze(0));
  EXPECT_EQ(scheme.GetUserAcVideoTimeOut(), 20u);
}

TEST_F(PwrSchemeTest, FlagsAreSetAndClearedByTheirOperations) {
  SchemeProbe scheme(0);
  scheme.EnableSecurityBypass();
  EXPECT_TRUE(scheme.Bypass());
  EXPECT_FALSE(scheme.Force());
  scheme.EnableForceStandby();
  EXPECT_TRUE(scheme.Force());
  scheme.DisableSecurityBypass();
  EXPECT_FALSE(scheme.Bypass());
  EXPECT_TRUE(scheme.Force());
  scheme.DisableForceStandby();
  EXPECT_FALSE(scheme.Force());
}

TEST_F(PwrSchemeTest, GettersTruncateToWholeMinutes) {
  const struct {
    ULONG seconds;
    DWORD minutes;
  } cases[] = {{0, 0}, {59, 0}, {60, 1}, {119, 1}, {120, 2}, {0xFFFFFFFF, 71582788}};
  using Getter = DWORD (PwrScheme::*)() const;
  const struct {
    const char* name;
    std::function<ULONG&(POWER_POLICY&)> member;
    Getter get;
  } getters[] = {
      {"UserAcVideo", [](POWER_POLICY& p) -> ULONG& { return p.user.VideoTimeoutAc; },
       &PwrScheme::GetUserAcVideoTimeOut},
      {"UserDcVideo", [](POWER_POLICY& p) -> ULONG& { return p.user.VideoTimeoutDc; },
       &PwrScheme::GetUserDcVideoTimeOut},
      {"UserAcStandby", [](POWER_POLICY& p) -> ULONG& { return p.user.IdleTimeoutAc; },
       &PwrScheme::GetUserAcStandbyTimeOut},
      {"UserDcStandby", [](POWER_POLICY& p) -> ULONG& { return p.user.IdleTimeoutDc; },
       &PwrScheme::GetUserDcStandbyTimeOut},
      {"MachAcStandby", [](POWER_POLICY& p) -> ULONG& { return p.mach.DozeTimeoutAc; },
       &PwrScheme::GetMachAcStandbyTimeOut},
      {"MachDcStandby", [](POWER_POLICY& p) -> ULONG& { return p.mach.DozeTimeoutDc; },
       &PwrScheme::GetMachDcStandbyTimeOut},
      {"UserAcSpinDown", [](POWER_POLICY& p) -> ULONG& { return p.user.SpindownTimeoutAc; },
       &PwrScheme::GetUserAcSpinDownTimeOut},
      {"UserDcSpinDown", [](POWER_POLICY& p) -> ULONG& { return p.user.SpindownTimeoutDc; },
       &PwrScheme::GetUserDcSpinDownTimeOut},
  };
  for (const auto& g : getters) {
    for (const auto& c : cases) {
      POWER_POLICY p = scheme_store::DistinctPolicy();
      g.member(p) = c.seconds;
      Store(p);
      PwrScheme scheme(0);
      EXPECT_EQ((scheme.*g.get)(), c.minutes) << g.name << " of " << c.seconds << " s";
    }
  }
}

TEST_F(PwrSchemeTest, HibernateGettersAddStandbyAndDelayInWholeMinutes) {
  const struct {
    ULONG standby, delay;
    DWORD minutes;
  } cases[] = {
      {0, 0, 0},       {600, 0, 0},  // no delay after standby: never, whatever the standby time-out
      {600, 1200, 30}, {0, 1800, 30},
      {119, 119, 2},  // each term truncated before the sum: not 238 / 60 = 3
      {59, 59, 0},     {0xFFFFFFFF, 0xFFFFFFFF, 2 * 71582788u},
  };
  for (const auto& c : cases) {
    POWER_POLICY p = scheme_store::DistinctPolicy();
    p.user.IdleTimeoutAc = c.standby;
    p.user.IdleTimeoutDc = c.standby;
    p.mach.DozeS4TimeoutAc = c.delay;
    p.mach.DozeS4TimeoutDc = c.delay;
    // The machine doze time-out plays no part in the getters.
    p.mach.DozeTimeoutAc = 6000;
    p.mach.DozeTimeoutDc = 6000;
    Store(p);
    PwrScheme scheme(0);
    EXPECT_EQ(scheme.GetMachAcHibernateTimeOut(), c.minutes) << c.standby << " + " << c.delay;
    EXPECT_EQ(scheme.GetMachDcHibernateTimeOut(), c.minutes) << c.standby << " + " << c.delay;
  }
}

// What each setter must change, given the minutes it was passed, on a capable machine; false
// when the setter must refuse them.
struct SetterCase {
  const char* name;
  bool (PwrScheme::*set)(DWORD);
  std::function<bool(POWER_POLICY&, DWORD minutes)> change;
};

// The hibernation delay after a standby time-out of `standbySeconds` (a multiple of 60).
bool Hibernate(ULONG& delay, ULONG standbySeconds, DWORD m) {
  if (m != 0 && m <= standbySeconds / 60) return false;
  delay = m == 0 ? 0 : m * 60u - standbySeconds;
  return true;
}

DWORD Seconds(DWORD minutes) { return minutes * 60u; }

const std::vector<SetterCase>& Setters() {
  static const std::vector<SetterCase> setters = {
      {"SetUserAcVideoTimeOut", &PwrScheme::SetUserAcVideoTimeOut,
       [](POWER_POLICY& p, DWORD m) {
         p.user.VideoTimeoutAc = Seconds(m);
         return true;
       }},
      {"SetUserDcVideoTimeOut", &PwrScheme::SetUserDcVideoTimeOut,
       [](POWER_POLICY& p, DWORD m) {
         p.user.VideoTimeoutDc = Seconds(m);
         return true;
       }},
      {"SetUserAcStandbyTimeOut", &PwrScheme::SetUserAcStandbyTimeOut,
       [](POWER_POLICY& p, DWORD m) {
         p.user.IdleTimeoutAc = Seconds(m);
         p.user.IdleAc.Action = Seconds(m) ? PowerActionSleep : PowerActionNone;
         return true;
       }},
      {"SetUserDcStandbyTimeOut", &PwrScheme::SetUserDcStandbyTimeOut,
       [](POWER_POLICY& p, DWORD m) {
         p.user.IdleTimeoutDc = Seconds(m);
         p.user.IdleDc.Action = Seconds(m) ? PowerActionSleep : PowerActionNone;
         return true;
       }},
      // DistinctPolicy's standby time-outs are 600 s (Ac) and 300 s (Dc).
      {"SetMachAcHibernateTimeOut", &PwrScheme::SetMachAcHibernateTimeOut,
       [](POWER_POLICY& p, DWORD m) { return Hibernate(p.mach.DozeS4TimeoutAc, 600, m); }},
      {"SetMachDcHibernateTimeOut", &PwrScheme::SetMachDcHibernateTimeOut,
       [](POWER_POLICY& p, DWORD m) { return Hibernate(p.mach.DozeS4TimeoutDc, 300, m); }},
      {"SetUserAcSpinDownTimeOut", &PwrScheme::SetUserAcSpinDownTimeOut,
       [](POWER_POLICY& p, DWORD m) {
         p.user.SpindownTimeoutAc = Seconds(m);
         return true;
       }},
      {"SetUserDcSpinDownTimeOut", &PwrScheme::SetUserDcSpinDownTimeOut,
       [](POWER_POLICY& p, DWORD m) {
         p.user.SpindownTimeoutDc = Seconds(m);
         return true;
       }},
      {"SetMachAcStandbyTimeOut", &PwrScheme::SetMachAcStandbyTimeOut,
       [](POWER_POLICY& p, DWORD m) {
         p.mach.DozeTimeoutAc = Seconds(m);
         return true;
       }},
  };
  return setters;
}

TEST_F(PwrSchemeTest, EachSetterChangesOnlyItsMembersWithWrapAround) {
  // 71582789 minutes are 4294967340 s, which wraps around to 44. 1 and 5 minutes do not come
  // after the standby time-outs (10 and 5 minutes), so hibernation refuses them.
  const DWORD minutes[] = {0, 1, 5, 30, 4999, 71582789};
  ASSERT_EQ(Seconds(71582789), 44u);
  for (const SetterCase& s : Setters()) {
    for (DWORD m : minutes) {
      SCOPED_TRACE(std::string(s.name) + "(" + std::to_string(m) + ")");
      SchemeProbe scheme(0);
      POWER_POLICY expected;
      std::memcpy(&expected, &scheme.Policy(), sizeof expected);
      const bool accepted = s.change(expected, m);
      EXPECT_EQ((scheme.*s.set)(m), !accepted);
      EXPECT_EQ(scheme.PolicyBytes(), scheme_store::BytesOf(expected));
      if (accepted) {
        EXPECT_EQ(scheme.GetErrorText(), "");
      }
    }
  }
}

TEST_F(PwrSchemeTest, StandbySetsTheIdleActionFromTheSeconds) {
  SchemeProbe scheme(0);
  EXPECT_FALSE(scheme.SetUserAcStandbyTimeOut(0));
  EXPECT_EQ(scheme.Policy().user.IdleTimeoutAc, 0u);
  EXPECT_EQ(scheme.Policy().user.IdleAc.Action, PowerActionNone);
  EXPECT_FALSE(scheme.SetUserAcStandbyTimeOut(1));
  EXPECT_EQ(scheme.Policy().user.IdleTimeoutAc, 60u);
  EXPECT_EQ(scheme.Policy().user.IdleAc.Action, PowerActionSleep);
  // Flags and event code stay as read.
  EXPECT_EQ(scheme.Policy().user.IdleAc.Flags, 0x10000001u);
  EXPECT_EQ(scheme.Policy().user.IdleAc.EventCode, 0x20000001u);
  // 2^30 minutes wrap around to 0 seconds, which means no standby.
  EXPECT_FALSE(scheme.SetUserDcStandbyTimeOut(1u << 30));
  EXPECT_EQ(scheme.Policy().user.IdleTimeoutDc, 0u);
  EXPECT_EQ(scheme.Policy().user.IdleDc.Action, PowerActionNone);
}

// The delay counts from the user standby time-out in whole minutes; 0 is never. A nonzero
// total that does not come after a nonzero standby time-out is refused, and so kept as it was.
TEST_F(PwrSchemeTest, HibernateStoresTheDelayAfterStandbyOrRefuses) {
  const ULONG kKept = 2400;  // DistinctPolicy's Dc delay, seeded for both here
  const struct {
    ULONG standbySeconds;
    DWORD minutes;
    ULONG stored;  // kKept when refused
  } cases[] = {
      {600, 30, 1200},  {0, 30, 1800},
      {90, 30, 1740},  // 90 s of standby count as one minute
      {30, 1, 60},     // 30 s count as none: the whole total is the delay
      {600, 0, 0},     // never
      {0, 0, 0},        {600, 11, 60},
      {600, 10, kKept},  // equal: no delay to store, and 0 would mean never
      {600, 5, kKept},   // below: the delay would wrap around to some 136 years
      {90, 1, kKept},
  };
  const std::string reason = "(): Hibernation time-out is not longer than the Standby time-out";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.standbySeconds) + " s standby, " + std::to_string(c.minutes));
    POWER_POLICY p = scheme_store::DistinctPolicy();
    p.user.IdleTimeoutAc = c.standbySeconds;
    p.user.IdleTimeoutDc = c.standbySeconds;
    p.mach.DozeS4TimeoutAc = kKept;
    p.mach.DozeS4TimeoutDc = kKept;
    Store(p);
    SchemeProbe scheme(0);
    const std::vector<uint8_t> before = scheme.PolicyBytes();
    const bool refused = c.stored == kKept;
    EXPECT_EQ(scheme.SetMachAcHibernateTimeOut(c.minutes), refused);
    EXPECT_EQ(scheme.GetErrorText(),
              refused ? "PwrScheme::SetMachAcHibernateTimeOut" + reason + kSuffix : "");
    EXPECT_EQ(scheme.SetMachDcHibernateTimeOut(c.minutes), refused);
    EXPECT_EQ(scheme.GetErrorText(),
              refused ? "PwrScheme::SetMachDcHibernateTimeOut" + reason + kSuffix : "");
    EXPECT_EQ(scheme.Policy().mach.DozeS4TimeoutAc, c.stored);
    EXPECT_EQ(scheme.Policy().mach.DozeS4TimeoutDc, c.stored);
    if (refused) {
      EXPECT_EQ(scheme.PolicyBytes(), before);
    }
  }
}

// What the setter took, the getter gives back, whatever the machine doze time-out holds.
TEST_F(PwrSchemeTest, HibernateReadsBackWhatWasSet) {
  for (ULONG standby : {0u, 600u, 630u}) {
    POWER_POLICY p = scheme_store::DistinctPolicy();
    p.user.IdleTimeoutAc = standby;
    p.user.IdleTimeoutDc = standby;
    p.mach.DozeTimeoutAc = 1200;
    Store(p);
    PwrScheme scheme(0);
    for (DWORD h : {0u, 11u, 25u, 4999u}) {
      SCOPED_TRACE(std::to_string(standby) + " s standby, " + std::to_string(h));
      EXPECT_FALSE(scheme.SetMachAcHibernateTimeOut(h));
      EXPECT_FALSE(scheme.SetMachDcHibernateTimeOut(h));
      EXPECT_EQ(scheme.GetMachAcHibernateTimeOut(), h);
      EXPECT_EQ(scheme.GetMachDcHibernateTimeOut(), h);
    }
  }
}

TEST_F(PwrSchemeTest, RefusedSetterLeavesTheRecordUnchanged) {
  const std::string suspend = "System is not capable of Power Suspend";
  const std::string hibernate = "System/user account is not capable of/configured for Hibernation";
  const struct {
    const char* name;
    bool (PwrScheme::*set)(DWORD);
    std::string reason;
    bool hibernation;  // refused for want of hibernation; otherwise for want of S3
  } cases[] = {
      {"SetUserAcStandbyTimeOut", &PwrScheme::SetUserAcStandbyTimeOut, suspend, false},
      {"SetUserDcStandbyTimeOut", &PwrScheme::SetUserDcStandbyTimeOut, suspend, false},
      {"SetMachAcStandbyTimeOut", &PwrScheme::SetMachAcStandbyTimeOut,
       suspend + " in Sleep State S3.", false},
      {"SetMachAcHibernateTimeOut", &PwrScheme::SetMachAcHibernateTimeOut, hibernate, true},
      {"SetMachDcHibernateTimeOut", &PwrScheme::SetMachDcHibernateTimeOut, hibernate, true},
  };
  // 7 minutes also come before the standby time-outs (10 and 5): for hibernation the machine's
  // refusal is the one reported.
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.hibernation) {
      SetHibernation(false);
    } else {
      SetS3(0);
    }
    SchemeProbe scheme(0);
    const std::vector<uint8_t> before = scheme.PolicyBytes();
    for (DWORD m : {0u, 7u}) {
      EXPECT_TRUE((scheme.*c.set)(m));
      EXPECT_EQ(scheme.GetErrorText(),
                std::string("PwrScheme::") + c.name + "(): " + c.reason + kSuffix);
      EXPECT_EQ(scheme.PolicyBytes(), before);
    }
    // The object stays usable: other setters still work.
    EXPECT_FALSE(scheme.SetUserAcSpinDownTimeOut(3));
    EXPECT_EQ(scheme.GetUserAcSpinDownTimeOut(), 3u);
    host::SetCapabilities(host::DefaultCapabilities());
  }
}

TEST_F(PwrSchemeTest, ForceStandbyLetsStandbySettersProceedWithoutS3) {
  SetS3(0);
  SchemeProbe scheme(0);
  scheme.EnableForceStandby();
  EXPECT_FALSE(scheme.SetUserAcStandbyTimeOut(5));
  EXPECT_FALSE(scheme.SetUserDcStandbyTimeOut(6));
  EXPECT_FALSE(scheme.SetMachAcStandbyTimeOut(7));
  EXPECT_EQ(scheme.GetUserAcStandbyTimeOut(), 5u);
  EXPECT_EQ(scheme.GetUserDcStandbyTimeOut(), 6u);
  EXPECT_EQ(scheme.GetMachAcStandbyTimeOut(), 7u);
  EXPECT_EQ(scheme.GetErrorText(), "");

  scheme.DisableForceStandby();
  EXPECT_TRUE(scheme.SetUserAcStandbyTimeOut(9));
  EXPECT_EQ(scheme.GetUserAcStandbyTimeOut(), 5u);
}

TEST_F(PwrSchemeTest, EachFlagUnlocksOnlyItsOwnDecision) {
  // No S3, no hibernation, no right to write schemes: every gated operation refuses unless
  // the one flag that governs it is set.
  host::SetCapabilities(SYSTEM_POWER_CAPABILITIES{});
  host::SetLimitedUser(true);
  const struct {
    const char* name;
    std::function<bool(PwrScheme&)> run;
    bool byForceStandby;
    bool bySecurityBypass;
  } operations[] = {
      {"SetUserAcStandbyTimeOut", [](PwrScheme& s) { return s.SetUserAcStandbyTimeOut(5); }, true,
       false},
      {"SetUserDcStandbyTimeOut", [](PwrScheme& s) { return s.SetUserDcStandbyTimeOut(5); }, true,
       false},
      {"SetMachAcStandbyTimeOut", [](PwrScheme& s) { return s.SetMachAcStandbyTimeOut(5); }, true,
       false},
      {"SetMachAcHibernateTimeOut", [](PwrScheme& s) { return s.SetMachAcHibernateTimeOut(30); },
       false, false},
      {"SetMachDcHibernateTimeOut", [](PwrScheme& s) { return s.SetMachDcHibernateTimeOut(30); },
       false, false},
      {"commit", [](PwrScheme& s) { return s.commit(); }, false, true},
  };
  for (bool force : {false, true}) {
    for (bool bypass : {false, true}) {
      for (const auto& op : operations) {
        SCOPED_TRACE(std::string(op.name) + (force ? ", force standby" : "") +
                     (bypass ? ", security bypass" : ""));
        // Both flags are set first, so the Disable operations take part too.
        PwrScheme scheme(0);
        scheme.EnableForceStandby();
        scheme.EnableSecurityBypass();
        if (!force) scheme.DisableForceStandby();
        if (!bypass) scheme.DisableSecurityBypass();
        const bool unlocked = (force && op.byForceStandby) || (bypass && op.bySecurityBypass);
        EXPECT_EQ(op.run(scheme), !unlocked);
      }
    }
  }
}

TEST_F(PwrSchemeTest, VideoAndSpinDownSettersNeverRefuse) {
  SYSTEM_POWER_CAPABILITIES nothing = {};
  host::SetCapabilities(nothing);
  host::SetLimitedUser(true);
  SchemeProbe scheme(0);
  EXPECT_FALSE(scheme.SetUserAcVideoTimeOut(1));
  EXPECT_FALSE(scheme.SetUserDcVideoTimeOut(2));
  EXPECT_FALSE(scheme.SetUserAcSpinDownTimeOut(3));
  EXPECT_FALSE(scheme.SetUserDcSpinDownTimeOut(4));
  EXPECT_EQ(scheme.GetErrorText(), "");
}

}  // namespace
