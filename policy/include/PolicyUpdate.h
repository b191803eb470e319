// One enforcement pass: brings the active power scheme to the policy of the settings root,
// records what it found and replaced in the backup key, commits and logs. Each program links
// the variant it carries (pm_policy_service or pm_policy_logon); the call is the same.
#ifndef PM_POLICYUPDATE_H
#define PM_POLICYUPDATE_H

// Returns after one pass; every failure is handled, and logged where the log allows, inside.
void RunPolicyUpdate();

// The power-scheme interface a pass would use now: "current", "legacy" or "none". Each call
// probes afresh, as each pass does (and writes the probe's debug text "Power scheme
// interface: ...").
const char* PowerInterfaceName();

#endif
