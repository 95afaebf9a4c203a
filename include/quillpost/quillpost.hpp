// Quillpost: the whole public interface.
#pragma once

#include <quillpost/base64.hpp>
#include <quillpost/cgi_context.hpp>
#include <quillpost/collections.hpp>
#include <quillpost/connection.hpp>
#include <quillpost/enumerator.hpp>
#include <quillpost/error.hpp>
#include <quillpost/host_events.hpp>
#include <quillpost/message.hpp>
#include <quillpost/variant.hpp>
