// Progress and cancellation looked at once every so many items of a long loop: records
// of a firmware file, chunks of the monitor upload, blocks of the file-system dump.
#pragma once
#include "reporting/reporting.h"

// The loops differ in where their first report falls and in whether they look for the
// cancel before or after reporting; the host sees exactly those values at exactly those
// items, so each loop says which it does.
class CPeriodicProgress {
 public:
  enum Order { CANCEL_THEN_PROGRESS, PROGRESS_THEN_CANCEL };
  // Where the first report falls: at the first item, or at the last item of the first
  // period.
  enum Start { FROM_FIRST_ITEM, AFTER_FIRST_PERIOD };

  CPeriodicProgress(const RunRecord& record, DWORD period, Start start, Order order)
      : m_record(record),
        m_period(period > 0 ? period : 1),
        m_wait(start == FROM_FIRST_ITEM ? 0 : m_period - 1),
        m_order(order) {}

  // Called once per item. At a reporting item, asks `position` for the percentage (only
  // then, so that its cost is paid once a period) and sends it, and throws the user-cancel
  // failure when the host has cancelled, in the loop's order.
  template <typename Position>
  void Step(Position&& position) {
    if (m_wait > 0) {
      --m_wait;
      return;
    }
    m_wait = m_period - 1;
    if (m_order == CANCEL_THEN_PROGRESS) CheckCancel(&m_record);
    SendProgress(&m_record, position());
    if (m_order == PROGRESS_THEN_CANCEL) CheckCancel(&m_record);
  }

 private:
  const RunRecord& m_record;
  const DWORD m_period;
  DWORD m_wait;  // items still to pass before the next report
  const Order m_order;
};
