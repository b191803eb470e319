// Root of the class tree: names the event source every object of this system belongs to.
#ifndef PM_PMEVENTSOURCE_H
#define PM_PMEVENTSOURCE_H

// The event source of this system in the Application log: the name its events are reported
// under, and the key HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\PMevents that
// names the message file holding their texts.
constexpr const char* kEventSourceName = "PMevents";

class PMEventSource {
 public:
  PMEventSource();
  virtual ~PMEventSource();

 protected:
  // Points at the constant text "PMevents"; copies share the pointer.
  const char* sourceName;
};

#endif
