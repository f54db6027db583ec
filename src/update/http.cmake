# The HTTP request worker: one request to the vendor service per worker.
target_sources(vexa_update PRIVATE http_request_worker.h http_request_worker.cpp)
