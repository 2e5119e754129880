// A device's configuration record as the views see it: texts, and a table of option
// descriptors that interpret the record's option area.
#pragma once
#include "framework/afx.h"
#include "models/option_desc.h"
#include "protocol/config_record_sink.h"

class CDeviceConfig : public CObject, public CConfigRecordSink {
  DECLARE_DYNAMIC(CDeviceConfig)
 public:
  ~CDeviceConfig() override;  // deletes every option descriptor
  CDeviceConfig(const CDeviceConfig&) = delete;
  CDeviceConfig& operator=(const CDeviceConfig&) = delete;

  DWORD GetSize() const override { return 0; }
  virtual LPCTSTR GetSerialNumber() const = 0;
  virtual LPCTSTR GetOwnerString1() const = 0;
  virtual LPCTSTR GetOwnerString2() const = 0;

  int GetOptionCount() const { return m_nOptionCount; }
  // The descriptor at an index, or nullptr outside 0..count-1 or where none is set.
  COptionDesc* GetOption(int index) const;
  int GetTempOptionCount() const { return m_nTempOptionCount; }
  DWORD GetOptionAreaSize() const { return m_dwOptionAreaSize; }

 protected:
  CDeviceConfig(DWORD recordSize, int optionCount, DWORD optionAreaSize);
  // Takes ownership of `option`; an index outside the table deletes it.
  void SetOption(int index, COptionDesc* option);

  DWORD m_dwRecordSize;
  int m_nOptionCount;
  DWORD m_dwOptionAreaSize;
  int m_nTempOptionCount = 0;
  CPtrArray m_options;  // of COptionDesc*, owned
};
