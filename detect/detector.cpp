// The detector: channels, their processing in parallel, and the grouping.
#include "detector.h"

#include <fnmatch.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>
#include <limits>
#include <new>

#include "aic_onset.h"
#include "channel_verdict.h"
#include "option_table.h"

namespace detect {

Detector::Detector(const onset_detect_options &options)
    : option_sets_{options},
      grouping_(options.tolerance, options.min_stations, train_seconds),
      peers_(std::llround(peer_window_seconds * 1e6), std::llround(2.0 * options.tolerance * 1e6),
             [this](int32_t channel, char phase, int64_t from, int64_t to, onset_pick &pick) {
                 return pick_in_window(channel, phase, from, to, pick);
             })
{
}

namespace {

// The option set whose pattern matches the channel's station last, or 0.
size_t option_set_of(const std::vector<std::string> &patterns, const std::string &id)
{
    const std::string station = station_of(id);
    for (size_t p = patterns.size(); p > 0; --p)
        if (fnmatch(patterns[p - 1].c_str(), station.c_str(), 0) == 0) return p;
    return 0;
}

}  // namespace

void Detector::set_station_options(const std::string &pattern, const onset_detect_options &options)
{
    if (!channels_.empty())
        throw Failure{ONSET_DETECT_INVALID, "station options must be set before the first channel is declared"};
    if (pattern.empty()) throw Failure{ONSET_DETECT_INVALID, "station options need a NET.STA pattern"};
    // The grouping runs over the whole network, with the detector's own.
    onset_detect_options station = options;
    for (size_t i = 0; i < option_count; ++i) {
        const onset_option_info &option = option_table[i];
        if (option.network) set_option(station, option, option_value(option_sets_[0], option));
    }
    const std::string problem = options_problem(station);
    if (!problem.empty()) throw Failure{ONSET_DETECT_INVALID, "options of stations " + pattern + ": " + problem};
    option_sets_.push_back(station);
    station_patterns_.push_back(pattern);
}

const onset_detect_options &Detector::options_for(const std::string &id) const
{
    return option_sets_[option_set_of(station_patterns_, id)];
}

void Detector::locate(const std::string &stations_path, const std::string &model_path, bool graded)
{
    if (!channels_.empty())
        throw Failure{ONSET_DETECT_INVALID, "stations and a velocity model must be given before the first channel"};
    const onset_detect_options &network = option_sets_[0];
    location_ = std::make_unique<EventLocation>(stations_path, model_path, graded, network.tolerance,
                                                network.min_stations);
    location_->pick_in_windows([this](int32_t channel, char phase, int64_t from, int64_t to, onset_pick &pick) {
        return pick_in_window(channel, phase, from, to, pick);
    });
}

int32_t Detector::add_channel(const std::string &id, double rate)
{
    if (finished_) throw Failure{ONSET_DETECT_FINISHED, "channel " + id + " declared after the flush"};
    if (id.empty()) throw Failure{ONSET_DETECT_INVALID, "a channel needs an id"};
    if (numbers_.count(id)) throw Failure{ONSET_DETECT_INVALID, "channel " + id + " is declared twice"};
    const size_t set = option_set_of(station_patterns_, id);
    const onset_detect_options &options = option_sets_[set];
    const std::string problem = rate_problem(options, rate);
    if (!problem.empty())
        throw Failure{rate > 0.0 ? ONSET_DETECT_RATE : ONSET_DETECT_INVALID, "channel " + id + ": " + problem};
    if (channels_.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw Failure{ONSET_DETECT_INVALID, "too many channels"};

    auto &settings = settings_[{set, rate}];
    if (!settings) settings = std::make_unique<RateSettings>(options, rate);
    const auto number = static_cast<int32_t>(channels_.size());
    channels_.push_back(std::make_unique<Channel>(id, number, *settings, options));
    numbers_[id] = number;
    stations_.emplace(channels_.back()->station(), static_cast<int32_t>(stations_.size()));
    const auto [key, component] = station_component(id);
    const auto unit = units_by_key_.emplace(key, static_cast<int32_t>(units_.size())).first->second;
    if (location_) location_->add_channel(id, unit);
    channels_.back()->keep_samples();
    if (static_cast<size_t>(unit) == units_.size())
        units_.emplace_back(std::llround(duplicate_seconds * 1e6), std::llround(s_window_seconds * 1e6));
    StationPicks &station = units_[static_cast<size_t>(unit)];
    station.add_channel(number, component);
    unit_of_.push_back(unit);
    // A station with a vertical picks on it, and band-passes its
    // horizontals where it looks for the S: they need no onsets of their own.
    if (station.vertical() >= 0) {
        bool samples_only = false;
        for (const int32_t h : station.horizontals())
            samples_only = channels_[static_cast<size_t>(h)]->samples_only() || samples_only;
        if (samples_only)
            station.set_search([this, unit](int64_t p, int64_t end, TimedOnset &s) {
                return search_s(static_cast<size_t>(unit), p, end, s);
            });
        if (samples_only && channels_[static_cast<size_t>(station.vertical())]->keep_for_station())
            station.set_arrival_test(
                [this, unit](int64_t p, int64_t onset, int64_t end) {
                    return arrival_after_noise(static_cast<size_t>(unit), p, onset, end);
                },
                std::llround(arrival_seconds * 1e6), std::llround(arrival_reach_seconds * 1e6));
        if (samples_only)
            station.set_clear_test([this, unit](int64_t p, int64_t s, int64_t end) {
                return p_stands_out_on_horizontals(static_cast<size_t>(unit), p, s, end);
            });
    }
    ranks_current_ = false;
    return number;
}

Channel &Detector::channel(int32_t number) const
{
    if (number < 0 || static_cast<size_t>(number) >= channels_.size())
        throw Failure{ONSET_DETECT_INVALID, "no channel " + std::to_string(number)};
    return *channels_[static_cast<size_t>(number)];
}

void Detector::feed(int32_t number, int64_t start, const double *samples, size_t count)
{
    if (finished_) throw Failure{ONSET_DETECT_FINISHED, "samples fed after the flush"};
    Channel &target = channel(number);
    if (count > 0 && !samples) throw Failure{ONSET_DETECT_INVALID, "no samples given"};
    if (count == 0) return;
    const double rate = target.rate();
    for (const double time : {static_cast<double>(start), static_cast<double>(start) + static_cast<double>(count) * 1e6 / rate}) {
        const std::string problem = time_problem(time, rate);
        if (!problem.empty()) throw Failure{ONSET_DETECT_INVALID, "channel " + target.id() + ": " + problem};
    }
    target.feed(start, samples, count);
}

namespace {

// Runs `work` on every channel, in parallel unless the host already runs
// this in a parallel region; the first failure is rethrown afterwards.
template <class Work>
void for_each_channel(std::vector<std::unique_ptr<Channel>> &channels, Work work)
{
    const auto count = static_cast<int64_t>(channels.size());
    std::vector<std::exception_ptr> failures(channels.size());
#pragma omp parallel for schedule(dynamic, 1) if (count > 1 && !omp_in_parallel())
    for (int64_t c = 0; c < count; ++c) {
        try {
            work(*channels[static_cast<size_t>(c)]);
        } catch (...) {
            failures[static_cast<size_t>(c)] = std::current_exception();
        }
    }
    for (const std::exception_ptr &failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace

void Detector::advance(int64_t time)
{
    if (finished_) return;
    const std::string problem = time_problem(static_cast<double>(time));
    if (!problem.empty()) throw Failure{ONSET_DETECT_INVALID, "advance: " + problem};
    advanced_ = std::max(advanced_, time);
    for_each_channel(channels_, [time](Channel &c) { c.advance(time); });
    group_final();
}

void Detector::flush()
{
    if (finished_) return;
    for_each_channel(channels_, [](Channel &c) { c.finish(); });
    finished_ = true;
    group_final();
}

void Detector::group_final()
{
    if (!ranks_current_) {
        std::vector<int32_t> rank(channels_.size()), station(channels_.size());
        int32_t next = 0;
        for (const auto &[id, number] : numbers_) rank[static_cast<size_t>(number)] = next++;
        for (size_t c = 0; c < channels_.size(); ++c) station[c] = stations_.at(channels_[c]->station());
        peers_.set_channels(unit_of_, rank);
        grouping_.set_channels(std::move(rank), std::move(station), unit_of_);
        ranks_current_ = true;
    }
    const size_t count = units_.size();
    std::vector<int64_t> unit_horizon(count, std::numeric_limits<int64_t>::max()), unit_p_horizon = unit_horizon;
    for (size_t c = 0; c < channels_.size(); ++c) {
        const auto unit = static_cast<size_t>(unit_of_[c]);
        units_[unit].add(channels_[c]->take_onsets());
        unit_horizon[unit] = std::min(unit_horizon[unit], channels_[c]->horizon());
        if (keeping_picks_) unit_p_horizon[unit] = std::min(unit_p_horizon[unit], channels_[c]->p_horizon());
    }
    int64_t horizon = finished_ ? std::numeric_limits<int64_t>::max() : advanced_;
    if (!channels_.empty()) horizon = std::numeric_limits<int64_t>::max();
    // A station's P goes out as soon as it is decided, its S once found
    // (for a host that takes them): the grouping still takes both when the
    // station's train is over.
    std::vector<TimedOnset> picks, final_picks;
    const int64_t noise_hold = std::llround(noise_seconds * 1e6);
    for (size_t u = 0; u < count; ++u) {
        if (keeping_picks_) units_[u].announce_p(unit_p_horizon[u], final_picks);
        const size_t released = picks.size();
        horizon = std::min(horizon, units_[u].release(unit_horizon[u], picks));
        if (keeping_picks_)
            std::copy_if(picks.begin() + static_cast<std::ptrdiff_t>(released), picks.end(),
                         std::back_inserter(final_picks), [](const TimedOnset &pick) { return pick.phase != 'P'; });
        // The noise before a P too, against which its arrival stands out.
        const int64_t noise_from =
            std::max(units_[u].search_from(), std::numeric_limits<int64_t>::min() + noise_hold) - noise_hold;
        for (const int32_t h : units_[u].horizontals())
            channels_[static_cast<size_t>(h)]->hold_from(noise_from);
        if (units_[u].vertical() >= 0)
            channels_[static_cast<size_t>(units_[u].vertical())]->hold_from(units_[u].search_from());
    }
    keep_final(final_picks);
    grouping_.add(picks);
    if (location_ && !channels_.empty() && !location_->places_any())
        throw Failure{ONSET_DETECT_UNPLACED, location_->stations_path() + ": gives none of the channels coordinates"};
    std::deque<Event> grouped;
    grouping_.group(horizon, grouped);
    const int64_t settled = grouping_.settled(horizon);
    int64_t needed;
    if (location_) {
        location_->take(grouped, settled, ready_);
        needed = location_->samples_needed_from(settled);
    } else {
        peers_.take(grouped, settled, ready_);
        needed = peers_.samples_needed_from(settled);
    }
    for (auto &c : channels_) c->hold_for_windows(needed);
}

void Detector::keep_final(const std::vector<TimedOnset> &onsets)
{
    for (const TimedOnset &onset : onsets)
        picks_.push_back({onset.channel, onset.phase, onset.time, onset.strength, onset.uncertainty, onset.polarity});
}

bool Detector::onset_in(const std::vector<int32_t> &channels, int64_t from_time, int64_t to_time,
                        WindowOnset &found) const
{
    // On the first channel's grid of sample times; the others of its rate.
    const Channel &grid = *channels_[static_cast<size_t>(channels.front())];
    const int64_t from = grid.index_of(from_time);
    const int64_t to = grid.index_of(to_time);
    if (to <= from) return false;
    std::vector<std::vector<double>> samples;
    std::vector<int32_t> used;
    for (const int32_t number : channels) {
        const Channel &c = *channels_[static_cast<size_t>(number)];
        if (c.rate() != grid.rate()) continue;
        const int64_t first = c.index_of(grid.time_of(from));
        samples.push_back(c.band_passed(first, first + (to - from)));
        used.push_back(number);
    }
    // Up to the first sample a channel lacks.
    size_t count = 0;
    while (count < samples.front().size() &&
           std::none_of(samples.begin(), samples.end(), [count](const auto &x) { return std::isnan(x[count]); }))
        ++count;
    std::vector<const double *> components;
    for (const auto &x : samples) components.push_back(x.data());
    const SOnset onset =
        s_onset(components.data(), components.size(), count, grid.settings().least_aic_part(), s_contrast);
    if (!onset.found) return false;
    // Picked on the channel where the arrival is strongest.
    size_t strongest = 0;
    double strongest_energy = -1.0;
    for (size_t c = 0; c < samples.size(); ++c) {
        double energy = 0.0;
        for (size_t i = onset.onset.index; i < onset.length; ++i) energy += samples[c][i] * samples[c][i];
        if (energy > strongest_energy) strongest_energy = energy, strongest = c;
    }
    found = {grid.time_of(from + static_cast<int64_t>(onset.onset.index)), used[strongest],
             static_cast<double>(std::max<size_t>(1, onset.onset.half_width)) / grid.rate()};
    return true;
}

bool Detector::search_s(size_t unit, int64_t p, int64_t end, TimedOnset &s) const
{
    // The horizontals that only keep their samples.
    std::vector<int32_t> horizontals;
    for (const int32_t h : units_[unit].horizontals())
        if (channels_[static_cast<size_t>(h)]->is_samples_only()) horizontals.push_back(h);
    WindowOnset found{};
    if (!onset_in(horizontals, p + std::llround(duplicate_seconds * 1e6), end, found)) return false;
    s = TimedOnset{found.time, found.channel, 0.0, 'S', found.uncertainty, p, 0, false, 0, true};
    return true;
}

namespace {

// The mean square of a channel's band-passed samples over [from, to)
// (times), NaN where any is missing.
double mean_square(const Channel &channel, int64_t from, int64_t to)
{
    const std::vector<double> x = channel.band_passed(channel.index_of(from), channel.index_of(to));
    if (x.empty()) return std::numeric_limits<double>::quiet_NaN();
    double sum = 0.0;
    for (const double value : x) sum += value * value;
    return sum / static_cast<double>(x.size());
}

}  // namespace

bool Detector::arrival_after_noise(size_t unit, int64_t p, int64_t onset, int64_t end) const
{
    // Both spans end before the next onset and before `end`.
    const int64_t span = std::llround(arrival_seconds * 1e6);
    const StationPicks &station = units_[unit];
    const Channel &vertical = *channels_[static_cast<size_t>(station.vertical())];
    const double vertical_p = mean_square(vertical, p, std::min(p + span, onset));
    const double vertical_onset = mean_square(vertical, onset, std::min(onset + span, end));
    double horizontal_p = 0.0, horizontal_onset = 0.0;
    for (const int32_t h : station.horizontals()) {
        const Channel &c = *channels_[static_cast<size_t>(h)];
        horizontal_p += mean_square(c, p, std::min(p + span, onset));
        horizontal_onset += mean_square(c, onset, std::min(onset + span, end));
    }
    // False where a mean square is missing (NaN).
    return vertical_onset >= arrival_energy * vertical_p &&
           horizontal_onset * vertical_p <= horizontal_p * vertical_onset;
}

bool Detector::p_stands_out_on_horizontals(size_t unit, int64_t p, int64_t s, int64_t end) const
{
    constexpr int64_t second = 1'000'000;
    const int64_t before = p - std::llround(noise_gap_seconds * 1e6);
    double signal = 0.0, noise = 0.0, recent = 0.0, s_signal = 0.0;
    for (const int32_t h : units_[unit].horizontals()) {
        const Channel &c = *channels_[static_cast<size_t>(h)];
        if (!c.is_samples_only()) continue;
        signal += mean_square(c, p, std::min(p + second, end));
        noise += mean_square(c, p - std::llround(noise_seconds * 1e6), before);
        recent += mean_square(c, p - 2 * second, before);
        s_signal += mean_square(c, s, std::min(s + second, end));
    }
    const Channel &vertical = *channels_[static_cast<size_t>(units_[unit].vertical())];
    const double vertical_p = mean_square(vertical, p, std::min(p + second, end));
    const double vertical_s = mean_square(vertical, s, std::min(s + second, end));
    // False where a mean square is missing (NaN) or there is no noise.
    const double level = std::max(noise, recent);
    return level > 0.0 && signal >= vertical.event_snr() * level && signal * vertical_s < s_signal * vertical_p;
}

bool Detector::pick_in_window(int32_t channel, char phase, int64_t from, int64_t to, onset_pick &pick) const
{
    // The P on the vertical, the S on the horizontals; a station without
    // the one picks on the other.
    const StationPicks &station = units_[static_cast<size_t>(unit_of_[static_cast<size_t>(channel)])];
    std::vector<int32_t> channels;
    if (station.vertical() >= 0 && (phase == 'P' || station.horizontals().empty()))
        channels.push_back(station.vertical());
    else
        channels = station.horizontals();
    if (channels.empty()) channels.push_back(channel);
    WindowOnset found{};
    if (!onset_in(channels, from, to, found)) return false;
    pick = {found.channel, phase, found.time, 0.0, found.uncertainty, 0};
    return true;
}

const Event *Detector::next_event()
{
    if (ready_.empty()) group_final();
    if (ready_.empty()) return nullptr;
    current_ = std::move(ready_.front());
    ready_.pop_front();
    return &current_;
}

const onset_pick *Detector::next_pick()
{
    if (picks_.empty()) group_final();
    if (picks_.empty()) return nullptr;
    current_pick_ = picks_.front();
    picks_.pop_front();
    return &current_pick_;
}

onset_channel_report Detector::report(int32_t number) const
{
    return channel(number).report();
}

void Detector::set_message(const std::string &message)
{
    const std::lock_guard<std::mutex> hold(message_lock_);
    message_ = message;
}

}  // namespace detect
