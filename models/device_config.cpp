#include "models/device_config.h"

IMPLEMENT_DYNAMIC(CDeviceConfig, CObject)

CDeviceConfig::CDeviceConfig(DWORD recordSize, int optionCount, DWORD optionAreaSize)
    : m_dwRecordSize(recordSize),
      m_nOptionCount(optionCount > 0 ? optionCount : 0),
      m_dwOptionAreaSize(optionAreaSize) {
  m_options.SetSize(m_nOptionCount);
}

CDeviceConfig::~CDeviceConfig() {
  for (int i = 0; i < m_options.GetSize(); ++i) delete static_cast<COptionDesc*>(m_options[i]);
  m_options.RemoveAll();
}

COptionDesc* CDeviceConfig::GetOption(int index) const {
  if (index < 0 || index >= m_options.GetSize()) return nullptr;
  return static_cast<COptionDesc*>(m_options[index]);
}

void CDeviceConfig::SetOption(int index, COptionDesc* option) {
  if (index < 0 || index >= m_options.GetSize()) {
    delete option;
    return;
  }
  delete static_cast<COptionDesc*>(m_options[index]);
  m_options[index] = option;
}
