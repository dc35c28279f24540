// SPDX-License-Identifier: GPL-3.0-or-later
// The beep: a short tone, once the player has pressed something (browsers allow sound only
// after a gesture).
let audio = null;

export function allowSound() {
  if (audio || !globalThis.AudioContext) return;
  try {
    audio = new AudioContext();
  } catch {
    audio = null;
  }
}

export function beep() {
  if (!audio) return;
  if (audio.state === 'suspended') audio.resume().catch(() => {});
  const tone = audio.createOscillator();
  const gain = audio.createGain();
  tone.frequency.value = 880;
  gain.gain.setValueAtTime(0.2, audio.currentTime);
  gain.gain.exponentialRampToValueAtTime(0.001, audio.currentTime + 0.15);
  tone.connect(gain).connect(audio.destination);
  tone.start();
  tone.stop(audio.currentTime + 0.15);
}
