#include "quote_recorder_writer.h"

recorder_writer::recorder_writer(capture::capture_queue& queue, capture::capture_writer& capture,
                                 csv_file* csv)
    : m_queue(queue), m_capture(capture), m_csv(csv), m_size(capture.size()) {}

recorder_writer::~recorder_writer() {
    finish();
}

void recorder_writer::start() {
    m_thread = std::thread([this] { run(); });
}

void recorder_writer::finish() {
    m_queue.close();
    if (m_thread.joinable()) m_thread.join();
    const bool capture_closed = m_capture.close();
    if (m_error.empty() && !capture_closed) m_error = m_capture.error();
    if (m_csv != nullptr && !m_csv->close() && m_error.empty()) m_error = m_csv->error();
}

void recorder_writer::run() {
    // After a failed write the thread keeps taking batches, so that the queue does not fill
    // and the receive thread is not held; they are counted by nobody, and the error stands.
    while (m_queue.take_all(m_batch)) {
        if (!m_failed.load() && !write_batch()) m_failed.store(true);
    }
}

bool recorder_writer::write_batch() {
    for (const capture::capture_record& record : m_batch) {
        if (!m_capture.write(record)) {
            m_error = m_capture.error();
            return false;
        }
        if (m_csv != nullptr && !m_csv->write(record)) {
            m_error = m_csv->error();
            return false;
        }
        ++m_per_symbol[capture::symbol_of(record.quote)];
    }
    // Each batch reaches the operating system before the thread waits again, so that what a
    // killed recorder leaves behind lags the quotes by at most one batch.
    if (!m_capture.flush()) {
        m_error = m_capture.error();
        return false;
    }
    if (m_csv != nullptr && !m_csv->flush()) {
        m_error = m_csv->error();
        return false;
    }
    m_written.fetch_add(m_batch.size());
    m_size.store(m_capture.size());
    return true;
}
