#include "stream/message_sink.hpp"

namespace {

thread_local MessageSink* t_current = nullptr;

}  // namespace

MessageSink* MessageSink::current() {
  return t_current;
}

MessageSink::Scope::Scope(MessageSink* sink) : previous_(t_current) {
  t_current = sink;
}

MessageSink::Scope::~Scope() {
  t_current = previous_;
}
